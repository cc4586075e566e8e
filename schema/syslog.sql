-- System log.
create table log (
    id integer primary key autoincrement,
    time text not null,         -- yyyy-MM-ddTHH:mm:ss
    level integer not null default 0,
    message text
);
