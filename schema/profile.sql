-- Settings store: one row per setting. The value column has no declared type,
-- so every value keeps the storage class it was bound with (text, integer,
-- real or blob).
create table profile (
    name text primary key not null,
    value
);
