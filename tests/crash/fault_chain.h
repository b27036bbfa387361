// Three named functions that call each other, the last faulting with a null
// write: a crash whose stack the report inbox must recover and name.
#pragma once

int fault_chain_first(int depth);
int fault_chain_second(int depth);
int fault_chain_third(int depth);
