"""The reporter names the program that crashed by one string, its "app id":
the release's version text followed by the executable's name, for example
"dr20100201plugin_Drovan.exe". The version request asks about that string,
and the report carries it as "app_ver".
"""
import dataclasses
import re

# A bare executable name: no path, something before ".exe" or ".dll".
_EXECUTABLE = re.compile(r"([A-Za-z_][\w.-]*?\.(?:exe|dll))\Z", re.IGNORECASE)
# A release's version text: letters, then a date-like run of digits.
_VERSION_PREFIX = re.compile(r"\A([A-Za-z]{0,8}\d{6,})")


@dataclasses.dataclass(frozen=True)
class AppIdentity:
    application: str
    version: str


def split_app_id(app_id, settings):
    """The application and version an app id names. A configured
    application is recognised by its name at the end, in any letter case,
    and named as configured; otherwise a version prefix of letters and
    digits is split off when there is one."""
    for app in settings.applications:
        if len(app_id) > len(app.name) and app_id.lower().endswith(app.name.lower()):
            return AppIdentity(app.name, app_id[:-len(app.name)])
    version = _VERSION_PREFIX.match(app_id)
    if version and _EXECUTABLE.match(app_id[version.end():]):
        return AppIdentity(app_id[version.end():], version.group(1))
    return AppIdentity(app_id, "")


def is_out_of_date(app_id, settings):
    """True when the app id names a configured application at a version
    other than its current one. Unknown applications are taken as current:
    their reports are wanted all the same."""
    identity = split_app_id(app_id, settings)
    app = settings.application(identity.application)
    return app is not None and identity.version.lower() != app.current_version.lower()
