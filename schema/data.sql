-- Samples and their clot curves.
create table patient (
    id integer primary key autoincrement,
    sampleNo text not null,     -- compared as cast(sampleNo as integer)
    date text not null,         -- day of the sample, yyyy-MM-dd
    name text,
    sex text,
    age integer,
    department text,
    bedNo text
);
create index patient_date on patient (date);

create table curve (
    patientId integer not null,
    item text not null,
    version integer not null,
    curve blob
);
create index curve_patient on curve (patientId, item, version);
