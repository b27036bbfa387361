"""The reporter rewrites, in the dump it sends, the paths of the host's
executable and of the plug-in library to a fixed folder, "d:\\qa\\", so no
user's folder leaves the machine: "d:\\qa\\" and a tag made of the app id
(the whole app id when it has at most 12 characters, else its first 10 and
".exe"), and the same with ".dll" for the library. Each new path is ended
with a NUL inside the old one's room, so what follows the NUL is what is
left of the old path.

The inbox reads the modules' names back from those paths, with the same
rule and the report's app id, so the fault is placed, and its symbols are
found, by the names the modules really have.
"""
import ntpath

PATCHED_FOLDER = "d:\\qa\\"
LIBRARY = "plugin_Drovan.dll"


def replacement_tag(app_id):
    return app_id if len(app_id) <= 12 else app_id[:10] + ".exe"


def original_names(app_id, application):
    """{patched path in lower case: the module's own name} for a report of
    `app_id`, whose executable is `application` (its file name)."""
    executable = PATCHED_FOLDER + replacement_tag(app_id)
    library = executable.replace(".exe", ".dll")
    names = {library.lower(): LIBRARY}
    if application.lower().endswith(".exe") and ntpath.basename(application) == application:
        names[executable.lower()] = application
    return names
