-- The sample database pubs2: a small bookstore chain with its authors, titles, publishers,
-- stores and sales. The server runs this script in pubs2 when the database is first created;
-- batches are separated by lines reading go, as isql reads them. All names, addresses and
-- figures are invented.

-- User datatypes
exec sp_addtype id, 'varchar(11)', 'not null'
exec sp_addtype tid, 'varchar(6)', 'not null'
exec sp_addtype empid, 'char(9)', 'not null'
go

-- Groups and users
exec sp_addgroup editors
exec sp_addgroup clerks
go
exec sp_addlogin 'bookclerk', 'clerk2000', 'pubs2'
go
exec sp_adduser 'bookclerk', 'bookclerk', 'clerks'
exec sp_adduser 'guest'
go

-- Tables and their indexes
create table authors
(au_id id,
 au_lname varchar(40) not null,
 au_fname varchar(20) not null,
 phone char(12) not null,
 address varchar(40) null,
 city varchar(20) null,
 state char(2) null,
 country varchar(12) null,
 postalcode char(10) null)
go
create unique clustered index auidind on authors (au_id)
go
create nonclustered index aunmind on authors (au_lname, au_fname)
go

create table publishers
(pub_id char(4) not null,
 pub_name varchar(40) null,
 city varchar(20) null,
 state char(2) null)
go
create unique clustered index pubind on publishers (pub_id)
go

create table titles
(title_id tid,
 title varchar(80) not null,
 type char(12) not null,
 pub_id char(4) null,
 price money null,
 advance money null,
 total_sales int null,
 notes varchar(200) null,
 pubdate datetime not null,
 contract bit not null)
go
create unique clustered index titleidind on titles (title_id)
go
create nonclustered index titleind on titles (title)
go

create table titleauthor
(au_id id,
 title_id tid,
 au_ord tinyint null,
 royaltyper int null)
go
create unique clustered index taind on titleauthor (au_id, title_id)
go
create nonclustered index auidind on titleauthor (au_id)
go
create nonclustered index titleidind on titleauthor (title_id)
go

create table stores
(stor_id char(4) not null,
 stor_name varchar(40) null,
 stor_address varchar(40) null,
 city varchar(20) null,
 state char(2) null,
 country varchar(12) null,
 postalcode char(10) null,
 payterms varchar(12) null)
go
create unique nonclustered index storesind on stores (stor_id)
go

create table sales
(stor_id char(4) not null,
 ord_num varchar(20) not null,
 date datetime not null)
go
create unique clustered index salesind on sales (stor_id, ord_num)
go

create table salesdetail
(stor_id char(4) not null,
 ord_num varchar(20) not null,
 title_id tid,
 qty smallint not null,
 discount float not null)
go
create nonclustered index titleidind on salesdetail (title_id)
go
create nonclustered index salesdetailind on salesdetail (stor_id)
go

create table discounts
(discounttype varchar(40) not null,
 stor_id char(4) null,
 lowqty smallint null,
 highqty smallint null,
 discount float not null)
go

create table roysched
(title_id tid,
 lorange int null,
 hirange int null,
 royalty int null)
go
create nonclustered index titleidind on roysched (title_id)
go

create table au_pix
(au_id char(11) not null,
 pic image null,
 format_type char(11) null,
 bytesize int null,
 pixwidth_hor char(14) null,
 pixwidth_vert char(14) null)
go

create table blurbs
(au_id id,
 copy text null)
go

-- Rules and defaults
create rule pub_idrule
as @pub_id in ('1001', '1002', '1003', '1004') or @pub_id like '99[0-9][0-9]'
go
create rule title_idrule
as @title_id like '[A-Z][A-Z][0-9][0-9][0-9][0-9]'
go
create default typedflt as 'UNDECIDED'
go
create default datedflt as getdate()
go
exec sp_bindrule pub_idrule, 'publishers.pub_id'
exec sp_bindrule title_idrule, 'titles.title_id'
exec sp_binddefault typedflt, 'titles.type'
exec sp_binddefault datedflt, 'titles.pubdate'
go

-- Rows

insert into authors values ('201-45-7781', 'Abernathy', 'Clara', '415 555-0142', '18 Larch Lane', 'Oakland', 'CA', 'USA', '94609')
insert into authors values ('214-80-3317', 'Baptiste', 'Henri', '510 555-0178', '402 Shoreline Dr.', 'Berkeley', 'CA', 'USA', '94705')
insert into authors values ('226-13-9054', 'Castellano', 'Irene', '408 555-0115', '77 Orchard Ct.', 'San Jose', 'CA', 'USA', '95112')
insert into authors values ('238-66-1420', 'Dunmore', 'Gavin', '801 555-0193', '1290 Canyon Rd.', 'Salt Lake City', 'UT', 'USA', '84103')
insert into authors values ('247-09-5583', 'Eklund', 'Maja', '503 555-0131', '56 Alder St.', 'Portland', 'OR', 'USA', '97205')
insert into authors values ('259-31-4476', 'Fairweather', 'Oscar', '617 555-0167', '9 Beacon Row', 'Boston', 'MA', 'USA', '02108')
insert into authors values ('263-72-8809', 'Gallardo', 'Lucia', '305 555-0120', '3300 Bayview Ave.', 'Miami', 'FL', 'USA', '33133')
insert into authors values ('275-18-2264', 'Holloway', 'Desmond', '312 555-0154', '611 Lakeshore Blvd.', 'Chicago', 'IL', 'USA', '60611')
insert into authors values ('288-47-6035', 'Ishikawa', 'Naomi', '206 555-0109', '14 Pike Terrace', 'Seattle', 'WA', 'USA', '98101')
insert into authors values ('291-55-0918', 'Jaramillo', 'Tomas', '505 555-0186', '820 Adobe Way', 'Santa Fe', 'NM', 'USA', '87501')
insert into authors values ('302-26-7741', 'Kowalczyk', 'Agata', '414 555-0127', '45 Brewer St.', 'Milwaukee', 'WI', 'USA', '53202')
insert into authors values ('315-90-1182', 'Lindqvist', 'Peter', '612 555-0145', '2 Lake of Isles Pkwy', 'Minneapolis', 'MN', 'USA', '55405')
insert into authors values ('327-41-5596', 'Montague', 'Felicity', '212 555-0172', '88 Hudson St.', 'New York', 'NY', 'USA', '10013')
insert into authors values ('334-07-2283', 'Nakamura', 'Kenji', '808 555-0138', '1501 Kapiolani Blvd.', 'Honolulu', 'HI', 'USA', '96814')
insert into authors values ('346-62-9917', 'Okafor', 'Chidi', '404 555-0161', '230 Peachtree Pl.', 'Atlanta', 'GA', 'USA', '30303')
insert into authors values ('352-19-4408', 'Pellegrini', 'Marco', '415 555-0199', '701 Columbus Ave.', 'San Francisco', 'CA', 'USA', '94133')
insert into authors values ('368-83-0652', 'Quennell', 'Harriet', '604 555-0114', '12 Kitsilano Rd.', 'Vancouver', 'BC', 'Canada', 'V6K 2L4')
insert into authors values ('371-24-7739', 'Rasmussen', 'Lars', '303 555-0150', '66 Larimer Sq.', 'Denver', 'CO', 'USA', '80202')
insert into authors values ('385-56-3301', 'Szabo', 'Erzsebet', '215 555-0183', '19 Rittenhouse Ln.', 'Philadelphia', 'PA', 'USA', '19103')
insert into authors values ('392-70-1864', 'Thornbury', 'Alistair', '020 7946 011', '4 Marchmont St.', 'London', null, 'UK', 'WC1N 1AB')
insert into authors values ('404-38-5527', 'Underhill', 'Rosalind', '512 555-0147', '300 Congress Ave.', 'Austin', 'TX', 'USA', '78701')
insert into authors values ('417-92-6690', 'Vasquez', 'Elena', '619 555-0124', '1150 Harbor Dr.', 'San Diego', 'CA', 'USA', '92101')
insert into authors values ('423-15-8843', 'Whitcombe', 'Julian', '541 555-0176', null, 'Eugene', 'OR', 'USA', null)
insert into authors values ('436-64-2215', 'Yoshida', 'Emi', '415 555-0105', '240 Valencia St.', 'San Francisco', 'CA', 'USA', '94103')
insert into authors values ('448-03-9978', 'Zeller', 'Konrad', '651 555-0133', '17 Summit Ave.', 'St. Paul', 'MN', 'USA', '55102')
go

insert into publishers values ('1001', 'Harbor Lane Press', 'Oakland', 'CA')
insert into publishers values ('1002', 'Northwind Folio', 'Seattle', 'WA')
insert into publishers values ('1003', 'Quillstone Books', 'Boston', 'MA')
insert into publishers values ('1004', 'Meridian House', 'Chicago', 'IL')
insert into publishers values ('9901', 'Tidewater Editions', 'Charleston', 'SC')
insert into publishers values ('9902', 'Lantern & Key', null, null)
go

insert into titles values ('BU2101', 'Ledgers Without Tears', 'business', '1001', 21.95, 6000.0, 3421, 'A plain-spoken guide to bookkeeping for owners of small shops.', 'Mar 14 1998', 1)
insert into titles values ('BU2215', 'The Quiet Negotiator', 'business', '1004', 18.5, 4500.0, 5130, 'How patient listening closes more deals than pressure does.', 'Sep 2 1999', 1)
insert into titles values ('BU3340', 'Spreadsheets for the Reluctant', 'business', '1001', 14.99, 2500.0, 8812, 'Formulas, charts and pivot tables explained with kitchen-table examples.', 'Jan 20 2000', 1)
insert into titles values ('BU4478', 'Cash Flow in Ninety Days', 'business', '1003', 24.0, 8000.0, 2267, null, 'Jun 30 2001', 1)
insert into titles values ('CK1150', 'Soup for Every Season', 'mod_cook', '1002', 16.95, 3000.0, 6604, 'Forty-eight soups, one for each week of the working year.', 'Oct 5 1998', 1)
insert into titles values ('CK1288', 'The Weeknight Skillet', 'mod_cook', '1002', 12.5, 2000.0, 11240, 'Thirty-minute dinners from a single pan.', 'Apr 18 2000', 1)
insert into titles values ('CK2309', 'Breads of the Old Harbour', 'trad_cook', '9901', 22.0, 5000.0, 1875, 'Family recipes gathered from coastal bakeries.', 'Nov 11 1997', 1)
insert into titles values ('CK2417', 'Preserves and Pickles', 'trad_cook', '9901', 15.75, 3500.0, 2940, 'Canning, curing and fermenting without special equipment.', 'Jul 7 1999', 1)
insert into titles values ('CK2533', 'Grandmother''s Pantry', 'trad_cook', '1003', 19.25, 4000.0, null, null, 'Feb 28 2002', 0)
insert into titles values ('PC3001', 'Networks Made Simple', 'popular_comp', '1004', 29.99, 10000.0, 7321, 'What actually happens between your keyboard and the server.', 'Aug 15 1999', 1)
insert into titles values ('PC3118', 'Databases for Curious People', 'popular_comp', '1001', 34.95, 12000.0, 4410, 'Tables, keys and queries for readers who never meant to learn SQL.', 'May 3 2000', 1)
insert into titles values ('PC3240', 'Debugging by Candlelight', 'popular_comp', '1004', 27.5, 7500.0, 3105, 'Stories and techniques from a lifetime of chasing faults.', 'Dec 1 2001', 1)
insert into titles values ('PC3372', 'The Portable Programmer', 'popular_comp', '1002', null, null, null, null, 'Jan 1 2003', 0)
insert into titles values ('PS4010', 'Habits of the Anxious Mind', 'psychology', '1003', 17.99, 5000.0, 4122, 'Why worry loops form and how to interrupt them.', 'Mar 9 1998', 1)
insert into titles values ('PS4126', 'Memory and the Marketplace', 'psychology', '1003', 21.0, 6500.0, 1998, 'How shoppers remember prices, brands and bargains.', 'Sep 22 1998', 1)
insert into titles values ('PS4251', 'Sleep, Interrupted', 'psychology', '9902', 13.95, 2000.0, 5567, 'A practical look at insomnia and its remedies.', 'Jun 6 2000', 1)
insert into titles values ('PS4399', 'The Generous Colleague', 'psychology', '1004', 19.95, 4200.0, 884, null, 'Oct 30 2001', 1)
insert into titles values ('TR5002', 'Rail Journeys of the Pacific Coast', 'travel', '1002', 26.5, 6000.0, 3330, 'Timetables, viewpoints and station cafes from Vancouver to San Diego.', 'May 25 1999', 1)
insert into titles values ('TR5147', 'A Week in the Desert Southwest', 'travel', '9902', 18.0, 3000.0, 2105, 'Seven itineraries through canyons, pueblos and ghost towns.', 'Feb 14 2000', 1)
insert into titles values ('TR5260', 'Small Harbours of New England', 'travel', '1003', 23.75, 4800.0, 1460, 'Walking tours of fishing towns from Mystic to Bar Harbor.', 'Aug 8 2001', 1)
insert into titles values ('HI6011', 'The Lighthouse Keepers', 'history', '9901', 28.0, 9000.0, 2718, 'Lives of the families who tended the coastal lights.', 'Apr 2 1997', 1)
insert into titles values ('HI6133', 'Ledger and Lantern', 'history', '1001', 24.5, 5500.0, 1320, 'Merchants and sailors of a nineteenth-century port.', 'Nov 19 1999', 1)
insert into titles values ('UN7001', 'Untitled Garden Project', 'UNDECIDED', '1004', null, null, null, null, 'Mar 1 2003', 0)
insert into titles values ('UN7002', 'Working Title: Clockmakers', 'UNDECIDED', '9902', null, null, null, null, 'Apr 1 2003', 0)
go

insert into titleauthor values ('201-45-7781', 'BU2101', 1, 100)
insert into titleauthor values ('214-80-3317', 'BU2215', 1, 60)
insert into titleauthor values ('275-18-2264', 'BU2215', 2, 40)
insert into titleauthor values ('226-13-9054', 'BU3340', 1, 100)
insert into titleauthor values ('238-66-1420', 'BU4478', 1, 100)
insert into titleauthor values ('247-09-5583', 'CK1150', 1, 100)
insert into titleauthor values ('259-31-4476', 'CK1288', 1, 75)
insert into titleauthor values ('263-72-8809', 'CK1288', 2, 25)
insert into titleauthor values ('288-47-6035', 'CK2309', 1, 100)
insert into titleauthor values ('291-55-0918', 'CK2417', 1, 50)
insert into titleauthor values ('302-26-7741', 'CK2417', 2, 50)
insert into titleauthor values ('315-90-1182', 'CK2533', 1, 100)
insert into titleauthor values ('327-41-5596', 'PC3001', 1, 100)
insert into titleauthor values ('334-07-2283', 'PC3118', 1, 40)
insert into titleauthor values ('346-62-9917', 'PC3118', 2, 30)
insert into titleauthor values ('352-19-4408', 'PC3118', 3, 30)
insert into titleauthor values ('368-83-0652', 'PC3240', 1, 100)
insert into titleauthor values ('371-24-7739', 'PC3372', 1, 100)
insert into titleauthor values ('385-56-3301', 'PS4010', 1, 100)
insert into titleauthor values ('392-70-1864', 'PS4126', 1, 100)
insert into titleauthor values ('404-38-5527', 'PS4251', 1, 60)
insert into titleauthor values ('417-92-6690', 'PS4251', 2, 40)
insert into titleauthor values ('423-15-8843', 'PS4399', 1, 100)
insert into titleauthor values ('436-64-2215', 'TR5002', 1, 100)
insert into titleauthor values ('448-03-9978', 'TR5147', 1, 100)
insert into titleauthor values ('201-45-7781', 'TR5260', 1, 50)
insert into titleauthor values ('226-13-9054', 'TR5260', 2, 50)
insert into titleauthor values ('214-80-3317', 'HI6011', 1, 100)
insert into titleauthor values ('247-09-5583', 'HI6133', 1, 100)
insert into titleauthor values ('327-41-5596', 'UN7001', 1, 100)
go

insert into stores values ('5101', 'Pages on Telegraph', '2480 Telegraph Ave.', 'Berkeley', 'CA', 'USA', '94704', 'Net 30')
insert into stores values ('5102', 'The Reading Lamp', '315 Pine St.', 'Seattle', 'WA', 'USA', '98101', 'Net 60')
insert into stores values ('5103', 'Corner Chapter', '48 Newbury St.', 'Boston', 'MA', 'USA', '02116', 'Net 30')
insert into stores values ('5104', 'Dog-Eared Books', '1021 N. Clark St.', 'Chicago', 'IL', 'USA', '60610', 'ON invoice')
insert into stores values ('5105', 'Spine & Cover', '77 Congress Ave.', 'Austin', 'TX', 'USA', '78701', 'Net 60')
insert into stores values ('5106', 'Harborside Bookshop', '12 Water St.', 'Charleston', 'SC', 'USA', '29401', 'Net 30')
insert into stores values ('5107', 'Paperback Alley', '640 Granville St.', 'Vancouver', 'BC', 'Canada', 'V6C 1V5', 'Net 60')
insert into stores values ('5108', 'Bookworm Central', null, 'Denver', 'CO', 'USA', null, null)
go

insert into sales values ('5101', 'TL-1001', 'Jan 12 2000')
insert into sales values ('5101', 'TL-1017', 'Mar 3 2000')
insert into sales values ('5102', 'RL-55', 'Feb 8 2000')
insert into sales values ('5102', 'RL-71', 'Jun 21 2000')
insert into sales values ('5103', 'CC-4410', 'Sep 14 1999')
insert into sales values ('5103', 'CC-4502', 'Dec 29 1999')
insert into sales values ('5104', 'DE/2000/01', 'Jan 31 2000')
insert into sales values ('5104', 'DE/2000/07', 'Jul 17 2000')
insert into sales values ('5105', 'SC-300', 'Apr 4 2001')
insert into sales values ('5106', 'HB-9', 'May 26 2000')
insert into sales values ('5106', 'HB-12', 'Oct 2 2000')
insert into sales values ('5107', 'PA-7781', 'Nov 30 2000')
insert into sales values ('5107', 'PA-7790', 'Dec 15 2000')
insert into sales values ('5108', 'BC-1', 'Feb 29 2000')
insert into sales values ('5101', 'TL-1090', 'Aug 19 2001')
go

insert into salesdetail values ('5101', 'TL-1001', 'BU2101', 25, 40.0)
insert into salesdetail values ('5101', 'TL-1001', 'PC3118', 10, 40.0)
insert into salesdetail values ('5101', 'TL-1017', 'CK1288', 40, 42.5)
insert into salesdetail values ('5102', 'RL-55', 'TR5002', 15, 40.0)
insert into salesdetail values ('5102', 'RL-55', 'CK1150', 20, 40.0)
insert into salesdetail values ('5102', 'RL-71', 'PC3001', 12, 45.0)
insert into salesdetail values ('5103', 'CC-4410', 'PS4010', 30, 40.0)
insert into salesdetail values ('5103', 'CC-4410', 'PS4126', 8, 40.0)
insert into salesdetail values ('5103', 'CC-4502', 'TR5260', 22, 41.5)
insert into salesdetail values ('5103', 'CC-4502', 'HI6133', 5, 40.0)
insert into salesdetail values ('5104', 'DE/2000/01', 'BU2215', 50, 46.7)
insert into salesdetail values ('5104', 'DE/2000/01', 'BU3340', 75, 46.7)
insert into salesdetail values ('5104', 'DE/2000/07', 'PC3240', 18, 40.0)
insert into salesdetail values ('5105', 'SC-300', 'BU4478', 14, 40.0)
insert into salesdetail values ('5105', 'SC-300', 'PS4399', 6, 40.0)
insert into salesdetail values ('5106', 'HB-9', 'CK2309', 35, 41.0)
insert into salesdetail values ('5106', 'HB-9', 'HI6011', 20, 41.0)
insert into salesdetail values ('5106', 'HB-12', 'CK2417', 28, 40.0)
insert into salesdetail values ('5107', 'PA-7781', 'TR5147', 16, 40.0)
insert into salesdetail values ('5107', 'PA-7781', 'PS4251', 24, 40.0)
insert into salesdetail values ('5107', 'PA-7790', 'CK1288', 60, 43.0)
insert into salesdetail values ('5108', 'BC-1', 'PC3001', 9, 35.0)
insert into salesdetail values ('5108', 'BC-1', 'BU3340', 11, 35.0)
insert into salesdetail values ('5101', 'TL-1090', 'HI6011', 7, 40.0)
insert into salesdetail values ('5101', 'TL-1090', 'CK1150', 13, 40.0)
go

insert into discounts values ('Opening week', null, null, null, 12.5)
insert into discounts values ('Bulk order', null, 200, 2000, 7.0)
insert into discounts values ('Member discount', '5103', null, null, 5.5)
insert into discounts values ('Holiday clearance', '5107', 10, 50, 9.0)
go

insert into roysched values ('BU2101', 0, 4999, 10)
insert into roysched values ('BU2101', 5000, 49999, 14)
insert into roysched values ('BU2101', 50000, 999999, 18)
insert into roysched values ('BU2215', 0, 4999, 10)
insert into roysched values ('BU2215', 5000, 49999, 14)
insert into roysched values ('BU2215', 50000, 999999, 18)
insert into roysched values ('BU3340', 0, 4999, 10)
insert into roysched values ('BU3340', 5000, 49999, 14)
insert into roysched values ('BU3340', 50000, 999999, 18)
insert into roysched values ('BU4478', 0, 4999, 10)
insert into roysched values ('BU4478', 5000, 49999, 14)
insert into roysched values ('BU4478', 50000, 999999, 18)
insert into roysched values ('CK1150', 0, 4999, 10)
insert into roysched values ('CK1150', 5000, 49999, 14)
insert into roysched values ('CK1150', 50000, 999999, 18)
insert into roysched values ('CK1288', 0, 4999, 10)
insert into roysched values ('CK1288', 5000, 49999, 14)
insert into roysched values ('CK1288', 50000, 999999, 18)
insert into roysched values ('CK2309', 0, 4999, 10)
insert into roysched values ('CK2309', 5000, 49999, 14)
insert into roysched values ('CK2309', 50000, 999999, 18)
insert into roysched values ('CK2417', 0, 4999, 10)
insert into roysched values ('CK2417', 5000, 49999, 14)
insert into roysched values ('CK2417', 50000, 999999, 18)
insert into roysched values ('CK2533', 0, 4999, 10)
insert into roysched values ('CK2533', 5000, 49999, 14)
insert into roysched values ('CK2533', 50000, 999999, 18)
insert into roysched values ('PC3001', 0, 4999, 10)
insert into roysched values ('PC3001', 5000, 49999, 14)
insert into roysched values ('PC3001', 50000, 999999, 18)
insert into roysched values ('PC3118', 0, 4999, 10)
insert into roysched values ('PC3118', 5000, 49999, 14)
insert into roysched values ('PC3118', 50000, 999999, 18)
insert into roysched values ('PC3240', 0, 4999, 10)
insert into roysched values ('PC3240', 5000, 49999, 14)
insert into roysched values ('PC3240', 50000, 999999, 18)
insert into roysched values ('PS4010', 0, 4999, 10)
insert into roysched values ('PS4010', 5000, 49999, 14)
insert into roysched values ('PS4010', 50000, 999999, 18)
insert into roysched values ('PS4126', 0, 4999, 10)
insert into roysched values ('PS4126', 5000, 49999, 14)
insert into roysched values ('PS4126', 50000, 999999, 18)
insert into roysched values ('PS4251', 0, 4999, 10)
insert into roysched values ('PS4251', 5000, 49999, 14)
insert into roysched values ('PS4251', 50000, 999999, 18)
insert into roysched values ('PS4399', 0, 4999, 10)
insert into roysched values ('PS4399', 5000, 49999, 14)
insert into roysched values ('PS4399', 50000, 999999, 18)
insert into roysched values ('TR5002', 0, 4999, 10)
insert into roysched values ('TR5002', 5000, 49999, 14)
insert into roysched values ('TR5002', 50000, 999999, 18)
insert into roysched values ('TR5147', 0, 4999, 10)
insert into roysched values ('TR5147', 5000, 49999, 14)
insert into roysched values ('TR5147', 50000, 999999, 18)
insert into roysched values ('TR5260', 0, 4999, 10)
insert into roysched values ('TR5260', 5000, 49999, 14)
insert into roysched values ('TR5260', 50000, 999999, 18)
insert into roysched values ('HI6011', 0, 4999, 10)
insert into roysched values ('HI6011', 5000, 49999, 14)
insert into roysched values ('HI6011', 50000, 999999, 18)
insert into roysched values ('HI6133', 0, 4999, 10)
insert into roysched values ('HI6133', 5000, 49999, 14)
insert into roysched values ('HI6133', 50000, 999999, 18)
go

insert into au_pix values ('201-45-7781', 0x47494638396101000100800000ffffff00000021f90401000000002c00000000010001000002024401003b, 'GIF', 43, '1', '1')
insert into au_pix values ('327-41-5596', 0x50350a3220320a3235350a4080c0ff, 'PGM', 15, '2', '2')
insert into au_pix values ('436-64-2215', null, null, null, null, null)
go

insert into blurbs values ('201-45-7781', 'Clara Abernathy kept the books for her family''s hardware store from the age of twelve. After twenty years as an accountant for small businesses around the Bay, she decided that most owners were not afraid of numbers at all, only of the jargon wrapped around them. Ledgers Without Tears is her answer: every chapter starts with a real shop, a real shoebox of receipts, and ends with books that balance. She lives in Oakland with two cats and an adding machine she refuses to retire.')
insert into blurbs values ('247-09-5583', 'Maja Eklund writes about food and the people who make it. Her soups have fed three generations of neighbours in Portland.')
insert into blurbs values ('327-41-5596', 'Felicity Montague built her first network out of borrowed cables in a school basement and has been explaining networks to friends, students and executives ever since.')
insert into blurbs values ('392-70-1864', null)
go


-- A view
create view titleview
as
select title, au_ord, au_lname, price, total_sales, pub_id
from authors, titles, titleauthor
where authors.au_id = titleauthor.au_id
  and titles.title_id = titleauthor.title_id
go

-- Procedures
create procedure byroyalty @percentage int
as
select au_id from titleauthor
where titleauthor.royaltyper = @percentage
go

create procedure titles_by_type @type char(12) = 'business'
as
select title_id, title, price, pubdate
from titles
where type = @type
order by title
go

create procedure pub_count @pub_id char(4), @count int output
as
select @count = count(*) from titles where pub_id = @pub_id
if @count = 0
    return 1
return 0
go

create procedure discount_for @stor_id char(4), @qty int, @discount float output
as
select @discount = max(discount) from discounts
where (stor_id = @stor_id or stor_id is null)
  and (lowqty is null or @qty >= lowqty)
  and (highqty is null or @qty <= highqty)
if @discount is null
begin
    select @discount = 0
    return 1
end
return 0
go

create procedure author_titles @au_lname varchar(40)
as
select a.au_lname, a.au_fname, t.title, t.pubdate
from authors a, titleauthor ta, titles t
where a.au_id = ta.au_id
  and ta.title_id = t.title_id
  and a.au_lname like @au_lname
order by t.pubdate
go

-- A trigger: titles that have sold cannot be deleted
create trigger deltitle
on titles
for delete
as
if exists (select 1 from deleted, salesdetail where salesdetail.title_id = deleted.title_id)
begin
    raiserror 20001 'Titles with recorded sales cannot be deleted.'
    rollback transaction
end
go
