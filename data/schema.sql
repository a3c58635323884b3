-- Tables of the mail database. Plain SQL that SQLite and PostgreSQL both
-- accept; the program runs it once to create a new database.

-- One row per message that a filter filed into a web-mail folder.
CREATE TABLE mailfolder (
    account TEXT NOT NULL,
    uid TEXT NOT NULL,
    folderid INTEGER NOT NULL,
    subject TEXT,
    mailfrom TEXT,
    maildate TEXT,
    mailsize INTEGER,
    mailIsread INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX mailfolder_account_uid ON mailfolder (account, uid);

-- Read receipts: a message's Message-ID and the account it went to; the
-- POP3 server sets mailisread when the account retrieves it.
CREATE TABLE receipts (
    messageid TEXT NOT NULL,
    account TEXT NOT NULL,
    mailisread INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX receipts_messageid ON receipts (messageid);

-- Statements of the database filter on engines without stored procedures
-- (SQLite): the body is a SELECT taking the eight inputs as "?" in order
-- (From, To, Subject, Http, File, Size, Date, ReturnPath) and giving the
-- command ("inbox...", "delete...", anything else holds) in its first
-- column. The statement installed here sends every message to the inbox;
-- the administrator replaces it with the site's own rules.
CREATE TABLE StoredProcedures (
    Name TEXT NOT NULL PRIMARY KEY,
    Body TEXT NOT NULL
);
INSERT INTO StoredProcedures (Name, Body) VALUES ('sp_QuorvexServer',
    'SELECT ''inbox'' || substr(? || ? || ? || ? || ? || ? || ? || ?, 1, 0)');
