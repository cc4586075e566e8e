-- Quality-control results.
create table qc_record (
    id integer primary key autoincrement,
    lotNo text not null,
    item text not null,
    level integer,
    date text not null,         -- yyyy-MM-dd
    value real
);
