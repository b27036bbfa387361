"""The reports in PostgreSQL, for a deployment that outgrows one machine's
file: one connection per thread, opened again when the server dropped it."""
import psycopg2

from .storage import Storage


class PostgresStorage(Storage):
    id_type = "BIGSERIAL"
    marker = "%s"

    def __init__(self, address):
        super().__init__()
        self.address = address
        self.connection().close()  # fail at start-up, not at the first report

    def connection(self):
        connection = getattr(self._local, "connection", None)
        if connection is None or connection.closed:
            connection = psycopg2.connect(self.address)
            self._local.connection = connection
        return connection
