#include "packer/splitter.h"

#include "tests/packer/packer_test_support.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Stmts = std::vector<Stmt>;

struct SplitCase {
    const char* what;
    const char* text;
    Stmts statements;
    std::vector<std::string> warnings;
};

// Every case is also fed in small chunks, which must change nothing.
void check_cases(Dialect dialect, const std::vector<SplitCase>& cases) {
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(std::string(DIALECT_NAMES[dialect]) + ": " + c.what);
        Split got = split_every_way(dialect, true, c.text);
        EXPECT_EQ(got.statements, c.statements);
        EXPECT_EQ(got.warnings, c.warnings);
    }
}

const char OPEN_QUOTE[] =
    "quoted text is not closed; the rest of the input is kept as one statement";
const char OPEN_COMMENT[] = "comment is not closed";
const char OPEN_UNIT[] =
    "PL/SQL unit is not closed by a '/' line; the rest of the input is kept as one statement";
const char OPEN_COPY[] = "COPY data is not closed by a '\\.' line";

std::string w(int line, const char* text) {
    return std::to_string(line) + ": " + text;
}

TEST(SplitterTest, GenericReadsEveryFormThatCannotBeMisread) {
    check_cases(
        DIALECT_GENERIC,
        {
            {"several statements on one line",
             "select 1; select 2;select 3",
             {{1, "select 1"}, {1, "select 2"}, {1, "select 3"}},
             {}},
            {"comments and blank lines before a statement are not part of it; inside they stay",
             "-- first\n\n/* block; */ update t set x = 1 -- note;\n where y = 2; -- after\n",
             {{3, "update t set x = 1 -- note;\n where y = 2"}},
             {}},
            {"empty statements", ";;\n ; \n", {}, {}},
            {"doubled quotes",
             "select 'it''s;', \"a\"\";\" from t;",
             {{1, "select 'it''s;', \"a\"\";\" from t"}},
             {}},
            {"backslashes are plain characters",
             "select 'a\\'; select 2;",
             {{1, "select 'a\\'"}, {1, "select 2"}},
             {}},
            {"dollar quotes, named or not",
             "select $$a;b$$, $x1$ c; $$ $x1$;\nselect 2;",
             {{1, "select $$a;b$$, $x1$ c; $$ $x1$"}, {2, "select 2"}},
             {}},
            {"a dollar inside a name or before a digit opens nothing",
             "select a$b$ from v$session where x = $1;",
             {{1, "select a$b$ from v$session where x = $1"}},
             {}},
            {"\\* *\\ comments (closed by the first *\\)",
             "select 1 \\* a; b *\\;\\**\\ select 2;",
             {{1, "select 1 \\* a; b *\\"}, {1, "select 2"}},
             {}},
            {"backticks and q-quotes",
             "select `a;b`, q'[it's; ok]', nq'{x;}' from t;",
             {{1, "select `a;b`, q'[it's; ok]', nq'{x;}' from t"}},
             {}},
            {"a q at the end of a name does not open a q-quote",
             "select seq'x;' from t;",
             {{1, "select seq'x;' from t"}},
             {}},
            {"a '/' line ends a statement, blanks and a comment around it allowed",
             "create table t (a int)\n  /  -- done\nselect 1\r\n/\r\n",
             {{1, "create table t (a int)"}, {3, "select 1"}},
             {}},
            {"a '/' that is not alone on its line is division",
             "select 4\n/ 2;",
             {{1, "select 4\n/ 2"}},
             {}},
            {"PL/SQL block ends only at its '/' line",
             "begin\n  null; end;\n/\nselect 1;",
             {{1, "begin\n  null; end;"}, {4, "select 1"}},
             {}},
            {"PL/SQL routine with IS",
             "CREATE OR REPLACE FUNCTION f RETURN NUMBER IS\nBEGIN\n  RETURN 1;\nEND;\n/\n",
             {{1, "CREATE OR REPLACE FUNCTION f RETURN NUMBER IS\nBEGIN\n  RETURN 1;\nEND;"}},
             {}},
            {"PL/SQL trigger with a BEGIN body",
             "create trigger t before insert on x for each row begin :new.a := 1; end;\n/\n",
             {{1, "create trigger t before insert on x for each row begin :new.a := 1; end;"}},
             {}},
            {"DECLARE block",
             "declare\n  v number;\nbegin null; end;\n/\n",
             {{1, "declare\n  v number;\nbegin null; end;"}},
             {}},
            {"BEGIN; is a transaction",
             "BEGIN;\nselect 1;\nBEGIN WORK;\nbegin transaction;",
             {{1, "BEGIN"}, {2, "select 1"}, {3, "BEGIN WORK"}, {4, "begin transaction"}},
             {}},
            {"a PostgreSQL function with a quoted body is no unit",
             "CREATE FUNCTION f() RETURNS int AS $$ select 1; $$ LANGUAGE sql;\nselect 2;",
             {{1, "CREATE FUNCTION f() RETURNS int AS $$ select 1; $$ LANGUAGE sql"},
              {2, "select 2"}},
             {}},
            {"nor one with E'' or '' after AS",
             "create function f() returns int as E'select 1;' language sql; select 2;",
             {{1, "create function f() returns int as E'select 1;' language sql"}, {1, "select 2"}},
             {}},
            {"nor one returning an expression (IS NULL) or with BEGIN ATOMIC",
             "create function h(x int) returns boolean language sql return x is null;\n"
             "create procedure p() language sql begin atomic select 1; end;",
             {{1, "create function h(x int) returns boolean language sql return x is null"},
              {2, "create procedure p() language sql begin atomic select 1"},
              {2, "end"}},
             {}},
            {"nor a trigger that names a transition table AS",
             "CREATE TRIGGER t AFTER INSERT ON x REFERENCING NEW TABLE AS n FOR EACH STATEMENT "
             "EXECUTE FUNCTION f(); select 1;",
             {{1, "CREATE TRIGGER t AFTER INSERT ON x REFERENCING NEW TABLE AS n FOR EACH "
                  "STATEMENT EXECUTE FUNCTION f()"},
              {1, "select 1"}},
             {}},
            {"nor a cursor, nor a T-SQL variable",
             "DECLARE c CURSOR FOR select 1; DECLARE @x int; select 2;",
             {{1, "DECLARE c CURSOR FOR select 1"}, {1, "DECLARE @x int"}, {1, "select 2"}},
             {}},
            {"COPY data lines are skipped",
             "COPY t (a) FROM stdin;\n1\tx;y\n2\t'\n\\.\nselect 1;",
             {{1, "COPY t (a) FROM stdin"}, {5, "select 1"}},
             {}},
            {"a psql command line", "\\set x 1\nselect :x;", {{2, "select :x"}}, {}},
            {"CR LF line ends",
             "select 1;\r\nselect\r\n 2;\r\n",
             {{1, "select 1"}, {2, "select\r\n 2"}},
             {}},
            {"unterminated quote: a warning, the rest is one statement",
             "select 1;\nselect 'open;\nselect 2;\n",
             {{1, "select 1"}, {2, "select 'open;\nselect 2;"}},
             {w(2, OPEN_QUOTE)}},
            {"unterminated comment between statements: a warning, nothing more",
             "select 1;\n/* open;\nselect 2;",
             {{1, "select 1"}},
             {w(2, OPEN_COMMENT)}},
            {"unterminated comment inside a statement is kept",
             "select 1 \\* open; \n",
             {{1, "select 1 \\* open;"}},
             {w(1, OPEN_COMMENT)}},
            {"a unit without its '/' line",
             "begin\n null;\nend;\n",
             {{1, "begin\n null;\nend;"}},
             {w(1, OPEN_UNIT)}},
            {"COPY data without its end",
             "copy t from stdin;\n1\n2\n",
             {{1, "copy t from stdin"}},
             {w(2, OPEN_COPY)}},
        });
}

TEST(SplitterTest, PostgresQuotesCommentsAndPsql) {
    check_cases(DIALECT_POSTGRES,
                {
                    {"E'' strings take backslash escapes, plain ones do not",
                     "select E'it\\'s;', e'\\\\', 'a\\'; select 2;",
                     {{1, "select E'it\\'s;', e'\\\\', 'a\\'"}, {1, "select 2"}},
                     {}},
                    {"a name ending in e is no E''",
                     "select note'x;' from t;",
                     {{1, "select note'x;' from t"}},
                     {}},
                    {"nested block comments",
                     "select /* a /* b; */ c; */ 1; select 2;",
                     {{1, "select /* a /* b; */ c; */ 1"}, {1, "select 2"}},
                     {}},
                    {"';' inside parentheses does not end a statement",
                     "select (1; 2), f(';'); select 3;",
                     {{1, "select (1; 2), f(';')"}, {1, "select 3"}},
                     {}},
                    {"a '/' line is division", "select 4\n/\n2;", {{1, "select 4\n/\n2"}}, {}},
                    {"BEGIN ATOMIC bodies with CASE ... END",
                     "create function f(a int) returns int language sql begin atomic\n"
                     " select case when a > 0 then a else 0 end;\n end;\nselect 1;",
                     {{1, "create function f(a int) returns int language sql begin atomic\n"
                          " select case when a > 0 then a else 0 end;\n end"},
                      {4, "select 1"}},
                     {}},
                    {"BEGIN as a transaction outside a routine",
                     "begin; select 1; end;",
                     {{1, "begin"}, {1, "select 1"}, {1, "end"}},
                     {}},
                    {"psql: \\; ends a statement, \\g sends, \\r drops",
                     "select 1 \\; select 2 \\g\nselect 'half' \\r\nselect 3;",
                     {{1, "select 1"}, {1, "select 2"}, {3, "select 3"}},
                     {}},
                    {"psql: a command inside a statement is cut out of it",
                     "select 1\n\\echo hi; there\n, 2;",
                     {{1, "select 1\n\n, 2"}},
                     {}},
                    {"psql: \\copy ... from stdin reads data lines",
                     "\\copy t from stdin\n1\t;\n\\.\nselect 1;",
                     {{4, "select 1"}},
                     {}},
                    {"COPY data ends at \\. before CR LF",
                     "copy t from stdin;\r\n1\r\n\\.\r\nselect 1;",
                     {{1, "copy t from stdin"}, {4, "select 1"}},
                     {}},
                    {"COPY to a file or from a file has no data",
                     "copy t to stdout; copy t from '/f';\nx;",
                     {{1, "copy t to stdout"}, {1, "copy t from '/f'"}, {2, "x"}},
                     {}},
                });
}

TEST(SplitterTest, MysqlEscapesCommentsAndDelimiters) {
    check_cases(DIALECT_MYSQL,
                {
                    {"backslash escapes in both quotes",
                     "select 'a\\';', \"b\\\";\"; select 2;",
                     {{1, "select 'a\\';', \"b\\\";\""}, {1, "select 2"}},
                     {}},
                    {"# comments",
                     "# intro; more\nselect 1 # trailing; x\n;",
                     {{2, "select 1 # trailing; x"}},
                     {}},
                    {"-- starts a comment only before white space",
                     "select 1--1;\nselect 2 -- c;\n;",
                     {{1, "select 1--1"}, {2, "select 2 -- c;"}},
                     {}},
                    {"backticks", "select `a;b``c` from t;", {{1, "select `a;b``c` from t"}}, {}},
                    {"/*! */ holds code, so the delimiter inside it counts",
                     "/*!40101 SET a=1 */;\n/*!40101 SET a=1; SET b=2 */;",
                     {{1, "/*!40101 SET a=1 */"}, {2, "/*!40101 SET a=1"}, {2, "SET b=2 */"}},
                     {}},
                    {"DELIMITER changes what ends a statement, and is no statement",
                     "DELIMITER ;;\nselect 1; select 2;;\ndelimiter $$\nselect 3$$\nDELIMITER //\n"
                     "select 4 //\nDELIMITER ;\nselect 5;",
                     {{2, "select 1; select 2"}, {4, "select 3"}, {6, "select 4"}, {8, "select 5"}},
                     {}},
                    {"DELIMITER inside a statement is text",
                     "select 1,\nDELIMITER $$\n, 2;",
                     {{1, "select 1,\nDELIMITER $$\n, 2"}},
                     {}},
                    {"a routine without DELIMITER is cut as the client cuts it",
                     "CREATE PROCEDURE p() BEGIN SELECT 1; END;",
                     {{1, "CREATE PROCEDURE p() BEGIN SELECT 1"}, {1, "END"}},
                     {}},
                    {"\\G and \\g send, \\c drops",
                     "select 1\\G select 2 \\g select 3\\c select 4;",
                     {{1, "select 1"}, {1, "select 2"}, {1, "select 4"}},
                     {}},
                });
}

TEST(SplitterTest, OracleUnitsAndSqlPlusCommands) {
    check_cases(
        DIALECT_ORACLE,
        {
            {"every unit kind runs to its '/' line",
             "CREATE OR REPLACE EDITIONABLE PROCEDURE p IS BEGIN NULL; END;\n/\n"
             "create type body t as member function f return number is begin return 1; end; "
             "end;\n/\n"
             "DECLARE x NUMBER; BEGIN NULL; END;\n/\n",
             {{1, "CREATE OR REPLACE EDITIONABLE PROCEDURE p IS BEGIN NULL; END;"},
              {3, "create type body t as member function f return number is begin return 1; end; "
                  "end;"},
              {5, "DECLARE x NUMBER; BEGIN NULL; END;"}},
             {}},
            {"an object type's declaration is a plain statement",
             "CREATE TYPE t AS OBJECT (a NUMBER);\n/\nselect 1 from dual;",
             {{1, "CREATE TYPE t AS OBJECT (a NUMBER)"}, {3, "select 1 from dual"}},
             {}},
            {"q-quotes with each kind of bracket",
             "select q'(a;)', q'<b;>', q'{c;}', Q'!d;!' from dual;",
             {{1, "select q'(a;)', q'<b;>', q'{c;}', Q'!d;!' from dual"}},
             {}},
            {"names with $ and #",
             "select * from v$session where sys#id = 1;",
             {{1, "select * from v$session where sys#id = 1"}},
             {}},
            {"SQL*Plus commands and their abbreviations are skipped",
             "SET ECHO ON\nPRO hello; world\nrem note\nCOL a FORMAT a10 -\n  HEADING 'x;'\n"
             "DESC t\n@install.sql\nselect 1 from dual;",
             {{8, "select 1 from dual"}},
             {}},
            {"SET TRANSACTION and SET ROLE are SQL",
             "SET TRANSACTION READ ONLY;\nset role all;",
             {{1, "SET TRANSACTION READ ONLY"}, {2, "set role all"}},
             {}},
            {"a command word inside a statement is SQL",
             "UPDATE t\nSET a = 1\nWHERE b = 2;",
             {{1, "UPDATE t\nSET a = 1\nWHERE b = 2"}},
             {}},
            {"a word that only starts like a command is SQL",
             "SAVEPOINT s1;\nSETTINGS;",
             {{1, "SAVEPOINT s1"}, {2, "SETTINGS"}},
             {}},
        });
}

TEST(SplitterTest, TsqlBatchesBlocksAndSqlcmd) {
    check_cases(
        DIALECT_TSQL,
        {
            {"GO in any case, with a count or a comment",
             "select 1\nGO\nselect 2\ngo 5\nselect 3\nGo -- x\n",
             {{1, "select 1"}, {3, "select 2"}, {5, "select 3"}},
             {}},
            {"GOTO is no GO", "select 1\nGOTO done\nGO", {{1, "select 1\nGOTO done"}}, {}},
            {"bracketed names and nested comments",
             "select [a;b]]c] /* x /* y; */ z; */ from t; select 2;",
             {{1, "select [a;b]]c] /* x /* y; */ z; */ from t"}, {1, "select 2"}},
             {}},
            {"BEGIN ... END and CASE ... END blocks keep their ';'",
             "IF 1 = 1 BEGIN SELECT 1; SELECT CASE WHEN 1 = 1 THEN 2 END; END; SELECT 3;",
             {{1, "IF 1 = 1 BEGIN SELECT 1; SELECT CASE WHEN 1 = 1 THEN 2 END; END"},
              {1, "SELECT 3"}},
             {}},
            {"BEGIN TRAN is no block, BEGIN TRY is",
             "BEGIN TRAN; BEGIN TRY SELECT 1; END TRY BEGIN CATCH SELECT 2; END CATCH; COMMIT;",
             {{1, "BEGIN TRAN"},
              {1, "BEGIN TRY SELECT 1; END TRY BEGIN CATCH SELECT 2; END CATCH"},
              {1, "COMMIT"}},
             {}},
            {"a CREATE PROCEDURE batch runs to its GO",
             "CREATE PROCEDURE p AS\nSELECT 1;\nSELECT 2;\nGO\nSELECT 3;",
             {{1, "CREATE PROCEDURE p AS\nSELECT 1;\nSELECT 2;"}, {5, "SELECT 3"}},
             {}},
            {"sqlcmd lines are cut out",
             ":setvar db x\nselect 1\n:r other.sql\n!!dir\n, 2\nGO",
             {{2, "select 1\n\n\n, 2"}},
             {}},
        });
}

// The fixtures, as each database's own tools write them: every statement and
// the line it starts on.
struct ScriptCase {
    const char* fixture;
    Dialect dialect;
    Stmts statements;
};

TEST(SplitterTest, ScriptsWrittenByTheDatabasesTools) {
    const ScriptCase cases[] = {
        {"pg_dump.sql",
         DIALECT_POSTGRES,
         {{10, "SET statement_timeout = 0"},
          {11, "SET lock_timeout = 0"},
          {12, "SET idle_in_transaction_session_timeout = 0"},
          {13, "SET client_encoding = 'UTF8'"},
          {14, "SET standard_conforming_strings = on"},
          {15, "SELECT pg_catalog.set_config('search_path', '', false)"},
          {16, "SET check_function_bodies = false"},
          {17, "SET xmloption = content"},
          {18, "SET client_min_messages = warning"},
          {19, "SET row_security = off"},
          {25,
           "CREATE FUNCTION public.last_updated() RETURNS trigger\n    LANGUAGE plpgsql\n    AS "
           "$$\nBEGIN\n    NEW.last_update = CURRENT_TIMESTAMP;\n    RETURN NEW;\nEND $$"},
          {34, "ALTER FUNCTION public.last_updated() OWNER TO postgres"},
          {40, "CREATE FUNCTION public.add_tax(amount numeric) RETURNS numeric\n    LANGUAGE sql "
               "IMMUTABLE\n    BEGIN ATOMIC\n SELECT (amount * 1.2);\n SELECT CASE WHEN (amount > "
               "(0)::numeric) THEN amount ELSE (0)::numeric END AS \"case\";\nEND"},
          {48, "ALTER FUNCTION public.add_tax(amount numeric) OWNER TO postgres"},
          {50, "SET default_tablespace = ''"},
          {52, "SET default_table_access_method = heap"},
          {58, "CREATE TABLE public.actor (\n    actor_id integer NOT NULL,\n    first_name text "
               "NOT NULL,\n    last_update timestamp with time zone DEFAULT now() NOT NULL\n)"},
          {65, "ALTER TABLE public.actor OWNER TO postgres"},
          {71, "COPY public.actor (actor_id, first_name, last_update) FROM stdin"},
          {82,
           "ALTER TABLE ONLY public.actor\n    ADD CONSTRAINT actor_pkey PRIMARY KEY (actor_id)"},
          {90, "CREATE TRIGGER last_updated BEFORE UPDATE ON public.actor FOR EACH ROW EXECUTE "
               "FUNCTION public.last_updated()"}}},
        {"psql_script.sql",
         DIALECT_POSTGRES,
         {{3, "BEGIN"},
          {4, "CREATE TABLE note (id int PRIMARY KEY, body text)"},
          {9, "SELECT count(*) AS n FROM note"},
          {11, "SELECT 'rows: ' || :'n'"},
          {13, "SELECT 'empty'"},
          {15, "INSERT INTO note VALUES (3, E'back\\\\slash; \\'quoted\\'')"},
          {16, "SELECT $fn$ body; $fn$ AS dollar,\n       'a;b' AS plain"},
          {18, "SELECT 1"},
          {18, "SELECT 2"},
          {20, "SELECT (1; 2) AS not_split"},
          {21, "COMMIT"}}},
        {"mysqldump.sql",
         DIALECT_MYSQL,
         {{7, "/*!40101 SET @OLD_CHARACTER_SET_CLIENT=@@CHARACTER_SET_CLIENT */"},
          {8, "/*!40101 SET @OLD_CHARACTER_SET_RESULTS=@@CHARACTER_SET_RESULTS */"},
          {9, "/*!50503 SET NAMES utf8mb4 */"},
          {10, "/*!40103 SET TIME_ZONE='+00:00' */"},
          {11, "/*!40014 SET @OLD_UNIQUE_CHECKS=@@UNIQUE_CHECKS, UNIQUE_CHECKS=0 */"},
          {17, "DROP TABLE IF EXISTS `customer`"},
          {18, "/*!40101 SET @saved_cs_client     = @@character_set_client */"},
          {19, "/*!50503 SET character_set_client = utf8mb4 */"},
          {20, "CREATE TABLE `customer` (\n  `id` int NOT NULL AUTO_INCREMENT,\n  `name` "
               "varchar(100) NOT NULL,\n  `note;x` text,\n  PRIMARY KEY (`id`)\n) ENGINE=InnoDB "
               "AUTO_INCREMENT=4 DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_0900_ai_ci"},
          {26, "/*!40101 SET character_set_client = @saved_cs_client */"},
          {32, "LOCK TABLES `customer` WRITE"},
          {33, "/*!40000 ALTER TABLE `customer` DISABLE KEYS */"},
          {34, "INSERT INTO `customer` VALUES (1,'O\\'Brien; Ltd',NULL),(2,'say \\\"hi\\\"; -- "
               "x','#1'),(3,'back\\\\',NULL)"},
          {35, "/*!40000 ALTER TABLE `customer` ENABLE KEYS */"},
          {36, "UNLOCK TABLES"},
          {37, "/*!50003 SET @saved_cs_client      = @@character_set_client */"},
          {38, "/*!50003 SET character_set_client  = utf8mb4 */"},
          {40, "/*!50003 CREATE*/ /*!50017 DEFINER=`root`@`localhost`*/ /*!50003 TRIGGER "
               "`customer_bi` BEFORE INSERT ON `customer` FOR EACH ROW BEGIN\n  SET NEW.name = "
               "TRIM(NEW.name);\nEND */"},
          {44, "/*!50003 SET character_set_client  = @saved_cs_client */"},
          {49, "/*!50003 DROP PROCEDURE IF EXISTS `touch` */"},
          {51, "CREATE DEFINER=`root`@`localhost` PROCEDURE `touch`(IN p_id INT)\nBEGIN\n  UPDATE "
               "customer SET name = name WHERE id = p_id; # keep it\n  SELECT ROW_COUNT();\nEND"},
          {57, "/*!40014 SET UNIQUE_CHECKS=@OLD_UNIQUE_CHECKS */"}}},
        {"sqlplus_script.sql",
         DIALECT_ORACLE,
         {{8, "CREATE TABLE items (\n  id    NUMBER(10) PRIMARY KEY,\n  name  VARCHAR2(100) NOT "
              "NULL\n)"},
          {12, "CREATE SEQUENCE items_seq"},
          {14, "CREATE OR REPLACE PACKAGE inventory AS\n  PROCEDURE add_item(p_name IN "
               "VARCHAR2);\nEND inventory;"},
          {18, "CREATE OR REPLACE PACKAGE BODY inventory AS\n  PROCEDURE add_item(p_name IN "
               "VARCHAR2) IS\n  BEGIN\n    INSERT INTO items (id, name) VALUES (items_seq.NEXTVAL, "
               "p_name);\n  END add_item;\nEND inventory;"},
          {26, "CREATE OR REPLACE TRIGGER items_bi\n  BEFORE INSERT ON items\n  FOR EACH "
               "ROW\nBEGIN\n  :NEW.name := TRIM(:NEW.name);\nEND;"},
          {33, "BEGIN\n  inventory.add_item(q'[O'Brien; & Sons]');\n  COMMIT;\nEND;"},
          {40, "SET TRANSACTION READ ONLY"},
          {41, "SELECT name FROM items ORDER BY name"}}},
        {"sqlcmd_script.sql",
         DIALECT_TSQL,
         {{3, "USE [$(DatabaseName)]"},
          {5, "SET ANSI_NULLS ON"},
          {7, "IF OBJECT_ID(N'[dbo].[usp_touch]', N'P') IS NOT NULL\n    DROP PROCEDURE "
              "[dbo].[usp_touch]"},
          {10, "CREATE PROCEDURE [dbo].[usp_touch]\n    @id INT\nAS\nBEGIN\n    SET NOCOUNT ON;\n "
               "   UPDATE [dbo].[Customer] SET [Name] = [Name] WHERE [Id] = @id;\n    SELECT CASE "
               "WHEN @@ROWCOUNT = 0 THEN 'missing' ELSE 'ok' END AS [Result];\nEND"},
          {19,
           "BEGIN TRY\n    BEGIN TRANSACTION;\n    INSERT INTO [dbo].[Customer] ([Name]) VALUES "
           "(N'O''Brien; Ltd');\n    COMMIT TRANSACTION;\nEND TRY\nBEGIN CATCH\n    ROLLBACK "
           "TRANSACTION;\n    THROW;\nEND CATCH"},
          {30, "SELECT 1 AS [a]]b;c]"}}},
        {"migration.sql",
         DIALECT_GENERIC,
         {{2, "CREATE TABLE account (\n    id BIGINT PRIMARY KEY,\n    email VARCHAR(200) NOT "
              "NULL, -- unique below; see note\n    note VARCHAR(200) DEFAULT 'n/a; none'\n)"},
          {7, "CREATE UNIQUE INDEX account_email ON account (email)"},
          {7, "INSERT INTO account (id, email) VALUES (1, 'a@example.com')"},
          {9, "INSERT INTO account (id, email)\nSELECT id, email FROM users WHERE email <> ''"},
          {12, "DROP TABLE users"}}},
    };
    for (const ScriptCase& c : cases) {
        SCOPED_TRACE(c.fixture);
        Split got = split_every_way(c.dialect, true, fixture(c.fixture));
        EXPECT_EQ(got.statements, c.statements);
        EXPECT_TRUE(got.warnings.empty());
    }
}

TEST(SplitterTest, LogEntriesHaveNoClientCommands) {
    // In a server log a backslash or a DELIMITER word is text the client sent.
    Split pg = split(DIALECT_POSTGRES, false, "select 1 \\gset\n;copy t from stdin;\n1\n", 0);
    EXPECT_EQ(pg.statements, (Stmts{{1, "select 1 \\gset"}, {2, "copy t from stdin"}, {3, "1"}}));
    Split my = split(DIALECT_MYSQL, false, "DELIMITER $$\nselect 1$$;", 0);
    EXPECT_EQ(my.statements, (Stmts{{1, "DELIMITER $$\nselect 1$$"}}));
}

TEST(SplitterTest, ResetStartsAFreshInput) {
    Split got;
    Splitter s;
    splitter_init(
        &s, DIALECT_MYSQL, true,
        SplitterEvents{&got,
                       [](void* c, char* t, std::size_t n, std::int64_t l) {
                           static_cast<Split*>(c)->statements.push_back(Stmt{l, std::string(t, n)});
                           return true;
                       },
                       [](void*, SplitWarning, std::int64_t) {}});
    splitter_reset(&s, 1);
    const char first[] = "DELIMITER ;;\nselect 'open";
    ASSERT_TRUE(splitter_feed(&s, first, sizeof first - 1));
    splitter_reset(&s, 40); // dropped unreported: the quote and the delimiter are forgotten
    const char second[] = "select 1; select 2;";
    ASSERT_TRUE(splitter_feed(&s, second, sizeof second - 1));
    ASSERT_TRUE(splitter_finish(&s));
    splitter_free(&s);
    EXPECT_EQ(got.statements, (Stmts{{40, "select 1"}, {40, "select 2"}}));
}

TEST(SplitterTest, MemoryStaysBoundedByTheLongestStatement) {
    // 8 MiB of short statements and of COPY data, fed in 64 KiB chunks: the
    // held bytes never grow past a chunk and a statement.
    std::string text = "copy t from stdin;\n";
    while (text.size() < 4u << 20) text += "12345\tsome data; with a ' quote\n";
    text += "\\.\n";
    while (text.size() < 8u << 20) text += "select 1; ";
    std::size_t count = 0;
    Splitter s;
    splitter_init(&s, DIALECT_POSTGRES, true,
                  SplitterEvents{&count,
                                 [](void* c, char*, std::size_t, std::int64_t) {
                                     ++*static_cast<std::size_t*>(c);
                                     return true;
                                 },
                                 [](void*, SplitWarning, std::int64_t) {}});
    splitter_reset(&s, 1);
    const std::size_t chunk = 64 * 1024;
    for (std::size_t at = 0; at < text.size(); at += chunk) {
        ASSERT_TRUE(splitter_feed(&s, text.data() + at, std::min(chunk, text.size() - at)));
        ASSERT_LE(s.text.capacity, 4 * chunk);
    }
    ASSERT_TRUE(splitter_finish(&s));
    splitter_free(&s);
    EXPECT_EQ(count, 1 + (text.size() - text.find("\\.\n") - 3) / 10);
}

// The examples the splitter litpack had before dialects, kept where they
// still hold. Changed on purpose: a ';' ends a statement anywhere on its
// line, empty statements are dropped, and a PL/SQL block keeps its final
// "end;".
TEST(SplitterTest, TheFormerSplittersExamples) {
    check_cases(
        DIALECT_GENERIC,
        {
            {"a ; that closes its line",
             "select 1;\nselect 2 ;  \r\nselect 3",
             {{1, "select 1"}, {2, "select 2"}, {3, "select 3"}},
             {}},
            {"a ; inside a line ends a statement too",
             "select 1; select 2;\n",
             {{1, "select 1"}, {1, "select 2"}},
             {}},
            {"a comment after the ;",
             "select 1; -- done\nselect 2;--\n",
             {{1, "select 1"}, {2, "select 2"}},
             {}},
            {"a lone - after the ; begins the next statement",
             "select 1; -\nselect 2;",
             {{1, "select 1"}, {1, "-\nselect 2"}},
             {}},
            {"a - at the very end is a statement", "select 1; -", {{1, "select 1"}, {1, "-"}}, {}},
            {"quotes hide ; and doubled quotes stay inside",
             "select 'a;\n''b;''\n' x;\nselect \"q;\"\"\n\";\n",
             {{1, "select 'a;\n''b;''\n' x"}, {4, "select \"q;\"\"\n\""}},
             {}},
            {"an open quote runs to the end",
             "select 'oops;\nselect 2;\n",
             {{1, "select 'oops;\nselect 2;"}},
             {w(1, OPEN_QUOTE)}},
            {"comments before a statement are dropped, inside it kept",
             "-- head;\n/* block;\n */ select /* in; */ 1 -- tail;\n;\n",
             {{3, "select /* in; */ 1 -- tail;"}},
             {}},
            {"the opening star does not close a comment",
             "/*/ select 1; */ select 2;\n",
             {{1, "select 2"}},
             {}},
            {"a / line ends a block, which keeps its end;",
             "begin\n  null; end;\n  /  -- run it\nselect 1\n/",
             {{1, "begin\n  null; end;"}, {4, "select 1"}},
             {}},
            {"a / line between statements is nothing", "/\n/\nselect 1;\n", {{3, "select 1"}}, {}},
            {"/ followed by text begins a statement", "/ x;\n/-\n", {{1, "/ x"}, {2, "/-"}}, {}},
            {"/* at a line start is a comment", "  /* c;\n*/ select 1;\n", {{2, "select 1"}}, {}},
            {"/ then a blank then * is text", "/ * from t;\n", {{1, "/ * from t"}}, {}},
            {"empty statements are dropped", ";\n ;\n\n;;\n", {}, {}},
            {"no statement at all", " \n\t\r\n-- c\n", {}, {}},
        });
}

TEST(SplitterTest, LongStatementsCrossManyChunks) {
    // A statement many times the chunk, with a quote and a comment spanning
    // chunk boundaries: memory is the statement, whatever the chunk.
    std::string body(300000, 'x');
    std::string sql = "select '" + body + ";' /* " + body + " */;\nselect 2;\n";
    Stmts expected = {{1, "select '" + body + ";' /* " + body + " */"}, {2, "select 2"}};
    EXPECT_EQ(split(DIALECT_GENERIC, true, sql, 4096).statements, expected);
    EXPECT_EQ(split(DIALECT_GENERIC, true, sql, 7).statements, expected);
}

/*
 * The generic rules over the bytes that decide where statements end, as
 * plainly as they can be written, reading the whole text at once: the
 * reference the streamed splitter must agree with on random texts. Over
 * this alphabet no word, dollar quote, backslash or client command occurs.
 */
namespace reference {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

void emit(Stmts* out, const std::string& text, std::size_t begin, std::size_t end,
          std::int64_t line) {
    while (end > begin && is_space(text[end - 1])) --end;
    if (begin < end) out->push_back(Stmt{line, text.substr(begin, end - begin)});
}

std::size_t end_of_line(const std::string& text, std::size_t from) {
    std::size_t stop = text.find('\n', from);
    return stop == std::string::npos ? text.size() : stop;
}

// Whether the line's rest from `at` is nothing: its end, CR LF, or "--".
bool line_ends(const std::string& text, std::size_t at) {
    std::size_t n = text.size();
    return at == n || text[at] == '\n' ||
           (text[at] == '\r' && (at + 1 == n || text[at + 1] == '\n')) ||
           (text[at] == '-' && at + 1 < n && text[at + 1] == '-');
}

Stmts split(const std::string& text) {
    Stmts out;
    bool open = false;
    std::size_t start = 0;
    std::int64_t line = 1;
    std::int64_t start_line = 1;
    std::size_t i = 0;
    bool line_start = true;
    auto count_lines = [&](std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k) line += text[k] == '\n';
    };
    while (i < text.size()) {
        if (line_start) { // a line holding only '/' ends the open statement
            line_start = false;
            std::size_t j = i;
            while (j < text.size() && (text[j] == ' ' || text[j] == '\t')) ++j;
            if (j < text.size() && text[j] == '/') {
                std::size_t k = j + 1;
                while (k < text.size() && (text[k] == ' ' || text[k] == '\t')) ++k;
                if (line_ends(text, k)) {
                    if (open) emit(&out, text, start, j, start_line);
                    open = false;
                    i = k;
                    continue;
                }
            }
        }
        char c = text[i];
        if (c == '\n') {
            ++line;
            line_start = true;
            ++i;
            continue;
        }
        if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
            i = end_of_line(text, i);
            continue;
        }
        if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            std::size_t close = text.find("*/", i + 2);
            std::size_t to = close == std::string::npos ? text.size() : close + 2;
            count_lines(i, to);
            i = to;
            continue;
        }
        if (!open && !is_space(c) && c != ';') {
            open = true;
            start = i;
            start_line = line;
        }
        if (c == '\'' || c == '"') {
            std::size_t j = i + 1;
            for (;;) {
                j = text.find(c, j);
                if (j == std::string::npos) {
                    j = text.size();
                    break;
                }
                if (j + 1 < text.size() && text[j + 1] == c) {
                    j += 2;
                    continue;
                }
                ++j;
                break;
            }
            count_lines(i, j);
            i = j;
            continue;
        }
        if (c == ';' && open) {
            emit(&out, text, start, i, start_line);
            open = false;
        }
        ++i;
    }
    if (open) emit(&out, text, start, text.size(), start_line);
    return out;
}

} // namespace reference

// Random texts over the bytes the splitter reacts to, against the
// reference, each fed in chunks of a random size. A fixed seed keeps any
// failure reproducible.
TEST(SplitterTest, GenericAgreesWithTheReferenceOnRandomTexts) {
    static const char ALPHABET[] = "a ;/-*'\"\n\t\r ;/-\n";
    std::mt19937 random(20261207);
    std::uniform_int_distribution<std::size_t> length(0, 48);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof ALPHABET - 2);
    std::uniform_int_distribution<std::size_t> chunk(0, 7);
    for (int round = 0; round < 20000; ++round) {
        std::string sql(length(random), ' ');
        for (char& c : sql) c = ALPHABET[pick(random)];
        std::size_t size = chunk(random);
        ASSERT_EQ(split(DIALECT_GENERIC, true, sql, size).statements, reference::split(sql))
            << "input \"" << sql << "\", chunks of " << size;
    }
}

} // namespace
