# The system's six tables, in the server's own dialect; "dbserver -D DIR
# --init NAME" runs these statements on a new database DIR/NAME.db.
# Widths, in bytes, which the server holds every value to: user, account
# and table names 15; service, group, unit and currency names 16; language
# codes 2; comments 299; descriptions as long as the price lists make them:
# a group's is the rest of its line (a line holds 2047 characters), a
# service's grows to 301 from its description lines (the readers take the
# first 300 of either).
# Dates are YYYYMMDD numbers (monthly statistic rows YYYYMM00).

CREATE TABLE ids (
  tabname char(15),
  tabid int
);

CREATE TABLE statistic (
  id int,
  user char(15),
  date int,
  name char(16),
  group char(16),
  lang char(2),
  amount real,
  sname char(16),
  sum real
);

CREATE TABLE accounts (
  id int,
  user char(15),
  date int,
  sum real,
  cmt char(299),
  flag int
);

CREATE TABLE rates (
  id int,
  date int,
  name char(16),
  rate real
);

CREATE TABLE sgroups (
  id int,
  lang char(2),
  name char(16),
  descr char(2047)
);

CREATE TABLE snames (
  id int,
  lang char(2),
  name char(16),
  descr char(301)
);

# Indexes on the columns the system's statements look rows up and delete
# them by. Each key holds only columns that those statements compare for
# equality: rows with equal keys come back in the order they were stored,
# as from a table without an index, so no answer changes its row order (a
# date in the key would list a range of months, and rates of one day, in
# index order instead).
CREATE INDEX statistic_user ON statistic (user);
CREATE INDEX accounts_user ON accounts (user);
CREATE INDEX rates_name ON rates (name);
CREATE INDEX sgroups_name ON sgroups (name, lang);
CREATE INDEX snames_name ON snames (name, lang);
