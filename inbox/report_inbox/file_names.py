"""The archive's file name as the reporter sent it: bytes in the code page
of the user's Windows, which the form does not name. Shown decoded as well
as it can be: UTF-8 when the bytes are that, GBK when every double-byte
character lies where GB2312 puts its characters (both bytes from 0xA1),
which Latin text in cp1252 rarely does, and cp1252 otherwise.
"""
MAX_NAME_BYTES = 1024


def _looks_like_gb2312(raw):
    i = 0
    while i < len(raw):
        if raw[i] < 0x80:
            i += 1
        elif i + 1 < len(raw) and raw[i] >= 0xA1 and raw[i + 1] >= 0xA1 and raw[i] != 0xFF and raw[i + 1] != 0xFF:
            i += 2
        else:
            return False
    return True


def display(raw):
    """The name as text, for showing; never fails."""
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        pass
    if _looks_like_gb2312(raw):
        try:
            return raw.decode("gbk")
        except UnicodeDecodeError:
            pass
    return raw.decode("cp1252", "replace")


def base_name(text):
    """The last part of a Windows or Unix path."""
    return text.replace("\\", "/").rsplit("/", 1)[-1]
