"""The options table with the real program: an invalid option stops a headless start with its
reason, losing nothing (an older accounts.dat gaining the table: the options table's tests)."""

import sqlite3
import unittest

from kvharness import Server, Site, TIMEOUT


class Options(unittest.TestCase):
    def setUp(self):
        self.site = Site()
        self.addCleanup(self.site.cleanup)
        self.site.db.add_user("bob", "x", rights="RB")

    def dump(self):
        with sqlite3.connect(self.site.db.path) as db:
            tables = db.execute("SELECT name, sql FROM sqlite_master WHERE type = 'table'"
                                " AND name <> 'options' ORDER BY name").fetchall()
            rows = {name: db.execute(f'SELECT rowid, * FROM "{name}"').fetchall() for name, _ in tables}
        return tables, rows

    def test_invalid_option_fails_the_start_with_its_reason(self):
        self.site.db.set_options(tls="bogus")
        before = self.dump()
        server = Server(self.site.data)
        code = server.proc.wait(timeout=TIMEOUT)
        server.stop()
        self.assertEqual(code, 2)
        reason = "Opzione tls: bogus non è un valore ammesso (off, on, required)"
        self.assertEqual(server.stderr(),
                         "Impossibile avviare il server: controllare indirizzo IP e porta\n" + reason + "\n")
        self.assertNotIn("SERVER START ON IP", server.stdout())
        self.assertIn(b"SERVER START FAILED: Opzione tls: bogus non ", self.site.log_file())
        self.assertEqual(self.dump(), before)
        self.assertEqual(self.site.db.run("SELECT value FROM options WHERE name = 'tls'"), [("bogus",)])


if __name__ == "__main__":
    unittest.main()
