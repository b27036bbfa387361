"""The report inbox: the server end of the crash reporter's upload.

It answers the reporter's version request and stores its reports (archive
on disk by content hash, fields in SQLite or PostgreSQL), files each report
under a crash signature read from its archive, and shows the reports to
whoever holds the inbox token.
"""
