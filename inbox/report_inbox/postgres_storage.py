"""The reports in PostgreSQL, for a deployment that outgrows one machine's
file: one connection per thread, opened again when the server dropped it."""
import psycopg2

from .storage import Storage


from .migrations import MIGRATION_LOCK

CONNECT_SECONDS = 5


class PostgresStorage(Storage):
    id_type = "BIGSERIAL"
    blob_type = "BYTEA"
    marker = "%s"
    transient_errors = (psycopg2.OperationalError, psycopg2.InterfaceError)

    def __init__(self, address):
        super().__init__()
        self.address = address
        self.connection().close()  # fail at start-up, not at the first report

    def connection(self):
        connection = getattr(self._local, "connection", None)
        if connection is None or connection.closed:
            # Bounded: a database host that does not answer fails the
            # request (or the health check) instead of holding it.
            connection = psycopg2.connect(self.address, connect_timeout=CONNECT_SECONDS)
            self._local.connection = connection
        return connection

    def lock_for_migration(self, cursor):
        cursor.execute("SELECT pg_advisory_xact_lock(%s)", (MIGRATION_LOCK,))

    def lock_archive(self, cursor, digest):
        # 60 bits of the digest: distinct archives share a lock only by chance.
        cursor.execute("SELECT pg_advisory_xact_lock(%s)", (int(digest[:15], 16),))
