-- The tables and triggers of accounts.dat exactly as the program creates
-- them (as sqlite_master keeps them), one statement a line, in creation order.
CREATE TABLE users (ID INTEGER PRIMARY KEY AUTOINCREMENT, login TEXT COLLATE NOCASE UNIQUE, password TEXT, enabled BOOLEAN NOT NULL DEFAULT 0, read BOOLEAN NOT NULL DEFAULT 0, write BOOLEAN NOT NULL DEFAULT 0, "delete" BOOLEAN NOT NULL DEFAULT 0, browse BOOLEAN NOT NULL DEFAULT 0, manage BOOLEAN NOT NULL DEFAULT 0, rootdir TEXT)
CREATE TABLE anonymous (enabled BOOLEAN NOT NULL DEFAULT 0, read BOOLEAN NOT NULL DEFAULT 1, write BOOLEAN NOT NULL DEFAULT 0, "delete" BOOLEAN NOT NULL DEFAULT 0, browse BOOLEAN NOT NULL DEFAULT 1, manage BOOLEAN NOT NULL DEFAULT 0, rootdir TEXT)
CREATE TABLE settings (ip TEXT, port TEXT, rootdir TEXT, start BOOLEAN NOT NULL DEFAULT 0, timeout TEXT, log BOOLEAN NOT NULL DEFAULT 1, IPok BOOLEAN NOT NULL DEFAULT 0, IPko BOOLEAN NOT NULL DEFAULT 0, debugmode TEXT, resolvelinks TEXT, datalingertime TEXT, minimized TEXT)
CREATE TABLE IPok (IP TEXT)
CREATE TABLE IPko (IP TEXT)
CREATE TABLE virtualdirs (name TEXT, source TEXT, destination TEXT, user INTEGER)
CREATE TABLE options (name TEXT PRIMARY KEY, value TEXT)
CREATE TABLE actions (id INTEGER PRIMARY KEY AUTOINCREMENT, event TEXT NOT NULL, user TEXT NOT NULL DEFAULT '*', path TEXT NOT NULL DEFAULT '', kind TEXT NOT NULL, target TEXT NOT NULL, enabled BOOLEAN NOT NULL DEFAULT 1)
CREATE TRIGGER actions_follow_rename AFTER UPDATE OF login ON users WHEN OLD.login IS NOT NEW.login AND ifnull(NEW.login, '') NOT IN ('', '*') AND ifnull(OLD.login, '') NOT IN ('', '*') BEGIN UPDATE actions SET user = NEW.login WHERE user = OLD.login COLLATE NOCASE AND NOT EXISTS (SELECT 1 FROM users WHERE login = OLD.login); END
CREATE TRIGGER actions_follow_delete AFTER DELETE ON users WHEN ifnull(OLD.login, '') NOT IN ('', '*') BEGIN DELETE FROM actions WHERE user = OLD.login COLLATE NOCASE AND NOT EXISTS (SELECT 1 FROM users WHERE login = OLD.login); END
CREATE TABLE account_limits (account INTEGER PRIMARY KEY, rate_up_kib INTEGER NOT NULL DEFAULT 0, rate_down_kib INTEGER NOT NULL DEFAULT 0, session_rate_up_kib INTEGER NOT NULL DEFAULT 0, session_rate_down_kib INTEGER NOT NULL DEFAULT 0, quota_bytes INTEGER NOT NULL DEFAULT 0, quota_files INTEGER NOT NULL DEFAULT 0, expires TEXT NOT NULL DEFAULT '', expiry_announced TEXT NOT NULL DEFAULT '')
CREATE TRIGGER account_limits_follow_delete AFTER DELETE ON users BEGIN DELETE FROM account_limits WHERE account = OLD.ID AND OLD.ID <> 0; END
