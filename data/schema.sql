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
