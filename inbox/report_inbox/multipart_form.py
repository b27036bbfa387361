"""The report's multipart form, read part by part.

Werkzeug's parser decodes each part's headers as strict UTF-8 and refuses
anything else, but the reporter writes the archive's file name in the code
page of the Windows it runs on: GBK on a Chinese one, cp1252 for a path
such as "C:\\Users\\José\\...". Here part headers are read as Latin-1, which
takes every byte to one character and back, and the file name is taken
from the raw bytes between its quotes (a GBK character may end in a
backslash byte, so no unescaping), kept as it came and decoded for display
by file_names.
"""
import dataclasses
import re

from . import outcomes

from werkzeug.exceptions import RequestEntityTooLarge
from werkzeug.sansio.multipart import Data, Epilogue, Field, File, MultipartDecoder, NeedData
from werkzeug.datastructures import Headers

READ_SIZE = 64 << 10
_CONTINUATION = re.compile(rb"\r\n[ \t]+")
_PARAMETER = re.compile(rb';\s*([A-Za-z0-9_*-]+)\s*=\s*(?:"([^"]*)"|([^;\s]*))')


@dataclasses.dataclass
class ReceivedFile:
    stream: object          # what open_file returned, filled with the part's bytes
    filename_bytes: bytes   # the file name exactly as sent


@dataclasses.dataclass
class Form:
    fields: dict
    files: dict


class _EightBitDecoder(MultipartDecoder):
    def _parse_headers(self, data):
        headers = []
        for line in _CONTINUATION.sub(b" ", bytes(data)).splitlines():
            name, colon, value = line.partition(b":")
            if colon:
                headers.append((name.strip().decode("latin-1"), value.strip().decode("latin-1")))
        return Headers(headers)


def disposition_parameters(raw):
    """name -> bytes of a Content-Disposition header's parameters."""
    return {match.group(1).decode("ascii").lower(): match.group(2) if match.group(2) is not None
            else match.group(3) for match in _PARAMETER.finditer(raw)}


def read_form(stream, boundary, open_file, max_field_bytes, max_parts):
    """The form's fields (text) and files. open_file() gives a writable
    stream for each file part. Raises ValueError for a form that is cut
    short or malformed and RequestEntityTooLarge past the bounds."""
    decoder = _EightBitDecoder(boundary, max_field_bytes, max_parts=max_parts)
    fields, files = {}, {}
    part, field_data, field_size, sink = None, [], 0, None
    while True:
        chunk = stream.read(READ_SIZE)
        decoder.receive_data(chunk or None)
        event = decoder.next_event()
        while not isinstance(event, (Epilogue, NeedData)):
            if isinstance(event, File):
                part, sink = event, open_file()
                raw = event.headers.get("content-disposition", "").encode("latin-1")
                files[event.name] = ReceivedFile(sink, disposition_parameters(raw).get("filename", b""))
            elif isinstance(event, Field):
                part, field_data, field_size, sink = event, [], 0, None
            elif isinstance(event, Data):
                if sink is not None:
                    sink.write(event.data)
                else:
                    field_size += len(event.data)
                    if field_size > max_field_bytes:
                        raise RequestEntityTooLarge()
                    field_data.append(event.data)
                    if not event.more_data:
                        fields[part.name] = b"".join(field_data).decode("utf-8", "replace")
            event = decoder.next_event()
        if not chunk:
            return Form(fields, files)


def refusal(request, max_body_bytes, shown_limit, what):
    """(status, reason, text) when the request's head already rules out
    `what` (a form of at most max_body_bytes), or None: no length, too
    long, or not a multipart form with a boundary."""
    if request.content_length is None:
        return 411, outcomes.LENGTH_REQUIRED, f"{what} needs a Content-Length"
    if request.content_length > max_body_bytes:
        return 413, outcomes.TOO_LARGE, f"{what} is larger than {shown_limit} bytes"
    if request.mimetype != "multipart/form-data" or "boundary" not in request.mimetype_params:
        return 415, outcomes.NOT_A_FORM, f"{what} must be a multipart/form-data form with a boundary"
    return None
