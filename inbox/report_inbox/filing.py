"""Which signature a report is counted under.

A configured application's reports are filed by their fault. The
application and version of any other report are only the sender's word,
and each distinct one would be rows of its own: such reports all go to one
signature, UNKNOWN_APPLICATION, kept to the newest max_unknown_reports
(the app id they named stays with each report).
"""
import dataclasses

from .triage import Signature

UNKNOWN_APPLICATION = "(unknown applications)"


def signature_for(filed_signature, identity, settings):
    if settings.application(identity.application) is None:
        return Signature(UNKNOWN_APPLICATION, "", "", "", "")
    return filed_signature


def is_unknown_bucket(signature):
    return signature.application == UNKNOWN_APPLICATION


def storable_text(value):
    """Text as both databases store it: PostgreSQL refuses NUL."""
    return value.replace("\x00", "\ufffd")


def storable(signature):
    return Signature(*(storable_text(getattr(signature, field.name)) for field in dataclasses.fields(signature)))
