#!/usr/bin/env python3
"""Seeded generator of OLTP-style SQL workloads for the litsieve benchmark.

Writes one statement per line (no raw line breaks inside a statement), the
form that `litpack --lines` packs. With --pg it also writes a copy for the
PostgreSQL normaliser and fingerprinter: bind variables `:name` become `$1`
and `\\* ... *\\` comments become `/* ... */`; nothing else changes.

Two kinds of workload:
  oltp      a few hundred statement templates over a small order-entry
            schema, chosen with Zipf-like popularity, plus a few per cent of
            ad-hoc statements. Every instance gets fresh literals and one of
            several letter-case and spacing styles of its template, so many
            raw texts share one normalised text.
  distinct  nearly every statement has a shape of its own (random column
            lists, predicates and orderings), which stresses the dictionary.
            Its IN lists reach MAX_IN_LIST elements, so past 200k statements
            some have more tokens than litsieve allows: use it up to 200k.
  adhoc     generated and ad-hoc reporting SQL: selects with ordered column
            lists, aggregates, joins, predicates, grouping and paging;
            multi-row inserts and updates. Every shape is drawn from far
            more combinations than 10M statements can exhaust, so at least
            80 % of the normalised texts are distinct at any size up to 10M,
            and a statement has 30 to 1,000 tokens (about 140 bytes of
            normalised text on average).

The stream depends only on --seed and --kind: the first N statements of a
larger workload are the N-statement workload, so sizes are comparable.
Every statement has between 1 and 4999 tokens by litsieve's lexer (the
longest IN list is capped at MAX_IN_LIST elements, two tokens each).
"""

import argparse
import random
import re
import sys

MAX_IN_LIST = 2000
CHUNK = 4096  # statements per write

# Column types: each names a literal generator below.
SCHEMA = {
    "customers": [("customer_id", "id"), ("first_name", "name"), ("last_name", "name"),
                  ("email", "email"), ("phone", "phone"), ("status", "code"),
                  ("credit_limit", "money"), ("created_at", "date"), ("region_id", "small"),
                  ("segment", "code")],
    "orders": [("order_id", "id"), ("customer_id", "id"), ("order_date", "date"),
               ("status", "code"), ("total_amount", "money"), ("currency", "cur"),
               ("sales_rep_id", "small"), ("ship_date", "date"), ("channel", "code")],
    "order_items": [("order_id", "id"), ("line_no", "small"), ("product_id", "id"),
                    ("quantity", "small"), ("unit_price", "money"), ("discount", "pct")],
    "products": [("product_id", "id"), ("sku", "code"), ("product_name", "text"),
                 ("category_id", "small"), ("list_price", "money"), ("weight", "real"),
                 ("active_flag", "flag"), ("updated_at", "date")],
    "inventory": [("product_id", "id"), ("warehouse_id", "small"), ("qty_on_hand", "small"),
                  ("qty_reserved", "small"), ("last_count_date", "date")],
    "payments": [("payment_id", "id"), ("order_id", "id"), ("amount", "money"),
                 ("method", "code"), ("paid_at", "date"), ("reference", "text")],
    "shipments": [("shipment_id", "id"), ("order_id", "id"), ("carrier", "code"),
                  ("tracking_no", "code"), ("shipped_at", "date"), ("delivered_at", "date"),
                  ("status", "code")],
    "accounts": [("account_id", "id"), ("customer_id", "id"), ("balance", "money"),
                 ("opened_on", "date"), ("account_type", "code"), ("branch_id", "small")],
    "transactions": [("txn_id", "id"), ("account_id", "id"), ("amount", "money"),
                     ("txn_type", "code"), ("txn_date", "date"), ("description", "text"),
                     ("balance_after", "money")],
    "employees": [("employee_id", "id"), ("first_name", "name"), ("last_name", "name"),
                  ("email", "email"), ("hire_date", "date"), ("job_id", "code"),
                  ("salary", "money"), ("manager_id", "id"), ("department_id", "small")],
    "departments": [("department_id", "small"), ("department_name", "text"),
                    ("manager_id", "id"), ("location_id", "small")],
    "sessions": [("session_id", "id"), ("user_id", "id"), ("started_at", "date"),
                 ("last_seen", "date"), ("ip_address", "ip"), ("user_agent", "text")],
    "audit_log": [("log_id", "id"), ("table_name", "code"), ("action", "code"),
                  ("changed_by", "id"), ("changed_at", "date"), ("old_value", "text"),
                  ("new_value", "text")],
    "documents": [("doc_id", "id"), ("owner_id", "id"), ("title", "text"),
                  ("body", "text"), ("created_at", "date"), ("version", "small")],
    "invoices": [("invoice_id", "id"), ("customer_id", "id"), ("invoice_date", "date"),
                 ("due_date", "date"), ("amount", "money"), ("paid_flag", "flag")],
    "addresses": [("address_id", "id"), ("customer_id", "id"), ("line1", "text"),
                  ("city", "name"), ("postal_code", "code"), ("country", "cur")],
}
JOINS = [("orders", "customers", "customer_id"), ("order_items", "orders", "order_id"),
         ("order_items", "products", "product_id"), ("inventory", "products", "product_id"),
         ("payments", "orders", "order_id"), ("shipments", "orders", "order_id"),
         ("accounts", "customers", "customer_id"), ("transactions", "accounts", "account_id"),
         ("employees", "departments", "department_id"), ("invoices", "customers", "customer_id"),
         ("addresses", "customers", "customer_id")]
HINTS = ["+INDEX(t {t}_pk)", "+FIRST_ROWS(10)", "+FULL(t) PARALLEL(t 4)", "+USE_NL(a b)",
         "app=billing module=nightly", "+NO_MERGE", "+LEADING(a) USE_HASH(b)"]
MONTHS = ["JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"]
WORDS = ("alpha bravo charlie delta echo foxtrot golf hotel india juliet kilo lima mike "
         "november oscar papa quebec romeo sierra tango uniform victor whiskey xray yankee "
         "zulu north south east west blue green red amber grey steel paper glass stone "
         "river lake hill field road street avenue market harbour station").split()
NAMES = ["Smith", "Jones", "O''Brien", "Garcia", "Miller", "D''Angelo", "Nguyen", "Kowalski",
         "Ito", "Brown", "Dubois", "O''Neil", "Schmidt", "Rossi", "Silva", "Jensen"]
CODES = ["ACTIVE", "PENDING", "SHIPPED", "CLOSED", "NEW", "HOLD", "RETAIL", "WEB", "CARD",
         "WIRE", "INSERT", "UPDATE", "DELETE", "UPS", "DHL", "GOLD", "SILVER"]


class Lit:
    """Fresh literal texts; all draw from one seeded generator."""

    def __init__(self, rng):
        self.rng = rng
        r = rng
        self.text_pool = ["'" + " ".join(r.choice(WORDS) for _ in range(r.randint(1, 6))) +
                          r.choice(["", "", "", " it''s", " 'n'' more"]) + "'"
                          for _ in range(4096)]
        self.text_pool = [t.replace("'n'' more", "n''more") for t in self.text_pool]
        body, size = [], 0
        while size < 120000:
            w = r.choice(WORDS)
            body.append(w + "''s" if r.random() < 0.02 else w)
            size += len(body[-1]) + 1
        self.long_body = " ".join(body)

    def id(self):
        return str(self.rng.getrandbits(self.rng.choice((8, 12, 16, 20, 24))) + 1)

    def small(self):
        return str(self.rng.randint(1, 120))

    def money(self):
        r = self.rng
        return "%d.%02d" % (r.getrandbits(r.choice((6, 10, 14))), r.getrandbits(6) % 100)

    def real(self):
        r = self.rng
        if r.random() < 0.2:
            return "%d.%dE%s%d" % (r.randint(1, 9), r.randint(0, 99), r.choice("+-"),
                                   r.randint(1, 6))
        return "%d.%d" % (r.randint(0, 500), r.randint(0, 9))

    def pct(self):
        return "0.%02d" % self.rng.randint(0, 50)

    def name(self):
        return "'" + self.rng.choice(NAMES) + "'"

    def email(self):
        r = self.rng
        return "'%s.%s%d@example.com'" % (r.choice(WORDS), r.choice(WORDS), r.randint(1, 999))

    def phone(self):
        return "'+1-555-%04d'" % self.rng.randint(0, 9999)

    def code(self):
        return "'" + self.rng.choice(CODES) + "'"

    def cur(self):
        return self.rng.choice(("'USD'", "'EUR'", "'GBP'", "'JPY'"))

    def flag(self):
        return self.rng.choice(("'Y'", "'N'"))

    def ip(self):
        b = self.rng.getrandbits(32)
        return "'%d.%d.%d.%d'" % (b >> 24, (b >> 16) & 255, (b >> 8) & 255, b & 255)

    def text(self):
        return self.rng.choice(self.text_pool)

    def long(self):
        r = self.rng
        n = int(r.lognormvariate(7.5, 1.0))  # median ~1.8 KB, tail to tens of KB
        n = max(200, min(n, 60000))
        start = r.randint(0, len(self.long_body) - n - 1)
        s = self.long_body[start:start + n]
        if s.endswith("'") and not s.endswith("''"):
            s = s[:-1]
        return "'" + s.lstrip("'s ") + "'"

    def date(self):
        r = self.rng
        day = r.randint(1, 28)
        mon = r.choice(MONTHS)
        x = r.random()
        if x < 0.55:
            return "'%02d-%s-%d'" % (day, mon, r.randint(1990, 2026))
        if x < 0.85:
            return "'%02d-%s-%d %02d:%02d:%02d'" % (day, mon, r.randint(1990, 2026),
                                                   r.randint(0, 23), r.randint(0, 59),
                                                   r.randint(0, 59))
        if x < 0.95:
            return "'%d-%s-%02d'" % (day, mon.lower(), r.randint(0, 99))
        # Looks like a date but is not one by the lexer's rules: stays a string.
        return "'%d-%02d-%02d'" % (r.randint(1990, 2026), r.randint(1, 12), day)

    def in_length(self):
        x = self.rng.random()
        if x < 0.70:
            return self.rng.randint(1, 5)
        if x < 0.95:
            return self.rng.randint(6, 50)
        if x < 0.995:
            return self.rng.randint(51, 500)
        return self.rng.randint(501, MAX_IN_LIST)

    def in_list(self, kind):
        f = getattr(self, kind)
        return ", ".join(f() for _ in range(self.in_length()))


# ---------------------------------------------------------------- templates
# A template is a list of parts: a str is SQL text that is restyled
# (letter case, spacing); a tuple is a slot filled per instance:
#   ("lit", type) fresh literal    ("in", type) IN list of literals
#   ("raw", text) text kept as is (comments, format strings, binds)


def lit(t):
    return ("lit", t)


def raw(text):
    return ("raw", text)


def bind(name):
    return raw(":" + name)


def comment(text):
    return raw("\\* " + text + " *\\")


CLOSED = ("ORDER BY", "GROUP BY", "FOR UPDATE", "VALUES", " JOIN ")


def make_template(r):
    """One random template; a third of those that end in a predicate get one
    more (the tenant or status checks of real applications)."""
    parts = make_family(r)
    text = " ".join(p for p in parts if isinstance(p, str))
    if r.random() < 0.35 and not any(c in text for c in CLOSED):
        table = [w for w in text.split() if w in SCHEMA][0]
        c, ty = r.choice(SCHEMA[table][1:])
        parts = parts + [" AND %s = " % c, bind(c) if r.random() < 0.5 else lit(ty)]
    return parts


def make_family(r):
    """One random template from one of the families below."""
    t = r.choice(list(SCHEMA))
    cols = SCHEMA[t]
    pk, pkt = cols[0]
    some = lambda lo, hi: r.sample(cols, r.randint(lo, min(hi, len(cols))))
    names = lambda cs: ", ".join(c for c, _ in cs)
    family = r.randrange(16)
    if family == 0:
        return ["SELECT %s FROM %s WHERE %s = " % (names(some(3, 9)), t, pk), lit(pkt)]
    if family == 1:
        return ["SELECT %s FROM %s WHERE %s = " % (names(some(3, 9)), t, pk), bind(pk)]
    if family == 2:
        c1, c2 = r.sample(cols[1:], 2)
        parts = ["SELECT %s FROM %s WHERE %s = " % (names(some(3, 9)), t, c1[0]), lit(c1[1]),
                 " AND %s %s " % (c2[0], r.choice(["=", "<>", ">=", "<"])), lit(c2[1])]
        if r.random() < 0.4:
            parts += [" AND ROWNUM <= ", lit("small")]
        if r.random() < 0.5:
            parts += [" ORDER BY %s %s" % (r.choice(cols)[0], r.choice(["ASC", "DESC", ""]))]
        return parts
    if family == 3:
        return ["SELECT %s FROM %s WHERE %s IN (" % (names(some(2, 6)), t, pk), ("in", pkt), ")"]
    if family == 4:
        a, b, key = r.choice(JOINS)
        ca, cb = SCHEMA[a], SCHEMA[b]
        dc = (["a." + c for c, ty in ca if ty == "date"] +
              ["b." + c for c, ty in cb if ty == "date"])
        if not dc:
            return ["SELECT %s FROM %s WHERE %s = " % (names(some(3, 9)), t, pk), lit(pkt)]
        sel = ", ".join(["a." + c for c, _ in r.sample(ca, min(3, len(ca)))] +
                        ["b." + c for c, _ in r.sample(cb, min(2, len(cb)))])
        return ["SELECT %s FROM %s a JOIN %s b ON a.%s = b.%s WHERE b.%s = " %
                (sel, a, b, key, key, cb[0][0]), lit(cb[0][1]),
                " AND %s BETWEEN " % r.choice(dc),
                lit("date"), " AND ", lit("date")]
    if family == 5:
        g = r.choice(cols[1:])
        dc = [c for c in cols if c[1] == "date"]
        parts = ["SELECT %s, COUNT(*), SUM(%s) FROM %s" % (g[0], r.choice(cols)[0], t)]
        if dc:
            parts += [" WHERE %s >= " % dc[0][0], lit("date")]
        return parts + [" GROUP BY %s HAVING COUNT(*) > " % g[0], lit("small")]
    if family == 6:
        return ["INSERT INTO %s (%s) VALUES (" % (t, names(cols))] + \
            sum(([lit(ty), ", "] for _, ty in cols), [])[:-1] + [")"]
    if family == 7:
        return ["INSERT INTO %s (%s) VALUES (" % (t, names(cols))] + \
            sum(([bind(c), ", "] for c, _ in cols), [])[:-1] + [")"]
    if family == 8:
        parts = ["UPDATE %s SET " % t]
        for c, ty in r.sample(cols[1:], r.randint(1, min(4, len(cols) - 1))):
            parts += ["%s = " % c, lit(ty), ", "]
        return parts[:-1] + [" WHERE %s = " % pk, lit(pkt) if r.random() < 0.6 else bind(pk)]
    if family == 9:
        c = r.choice([c for c in cols[1:] if c[1] in ("small", "money")] or cols[1:2])
        return ["UPDATE %s SET %s = %s - " % (t, c[0], c[0]), lit("small"),
                " WHERE %s = " % pk, lit(pkt), " AND %s >= " % c[0], lit("small")]
    if family == 10:
        dc = [c for c in cols if c[1] == "date"]
        if dc and r.random() < 0.5:
            return ["DELETE FROM %s WHERE %s < " % (t, dc[0][0]), lit("date")]
        return ["DELETE FROM %s WHERE %s = " % (t, pk), lit(pkt)]
    if family == 11:
        c1 = r.choice(cols[1:])
        return ["SELECT ", comment(r.choice(HINTS).format(t=t)),
                " %s FROM %s t WHERE t.%s = " % (names(some(2, 6)), t, c1[0]), lit(c1[1])]
    if family == 12:
        c1 = r.choice([c for c in cols if c[1] in ("name", "text", "email", "code")] or cols)
        return ["SELECT %s FROM %s WHERE UPPER(%s) LIKE " % (names(some(2, 5)), t, c1[0]),
                raw("'" + r.choice(WORDS).upper() + "%'"), " AND ROWNUM <= ", lit("small")]
    if family == 13:
        return ["SELECT %s FROM %s WHERE %s = " % (names(some(1, 4)), t, pk), lit(pkt),
                " FOR UPDATE NOWAIT" if r.random() < 0.5 else " FOR UPDATE"]
    if family == 14:
        dc = [c for c in cols if c[1] == "date"] or [cols[0]]
        return ["SELECT %s, TO_CHAR(%s, " % (names(some(1, 4)), dc[0][0]),
                raw("'DD-MON-YYYY HH24:MI:SS'"), "), NVL(%s, " % cols[-1][0], lit(cols[-1][1]),
                ") FROM %s WHERE %s = " % (t, pk), bind(pk)]
    # family 15: subquery with an IN list inside
    a, b, key = r.choice(JOINS)
    return ["SELECT %s FROM %s WHERE %s IN (SELECT %s FROM %s WHERE %s IN (" %
            (names(r.sample(SCHEMA[a], 3)), a, key, key, b, SCHEMA[b][-1][0]),
            ("in", SCHEMA[b][-1][1]), ")) ORDER BY 1"]


def document_templates():
    """The rare statements with long string literals (tens of KB)."""
    return [["INSERT INTO documents (doc_id, owner_id, title, body, created_at, version) "
             "VALUES (", lit("id"), ", ", lit("id"), ", ", lit("text"), ", ", lit("long"),
             ", ", lit("date"), ", 1)"],
            ["UPDATE documents SET body = ", lit("long"), ", version = version + 1 "
             "WHERE doc_id = ", bind("doc_id")]]


# ------------------------------------------------------------------ styling
TIGHT = re.compile(r" *([=,()]) *")


def restyle(text, case, spacing, r):
    if case == 1:
        text = text.lower()
    elif case == 2:
        text = text.upper()
    elif case == 3:
        text = re.sub(r"[A-Za-z_]+", lambda m: m.group(0).capitalize()
                      if r.random() < 0.5 else m.group(0).lower(), text)
    if spacing == 1:
        text = text.replace(" ", "  ")
    elif spacing == 2:
        text = TIGHT.sub(r"\1", text)
    elif spacing == 3:
        text = text.replace(" ", " \t ", 2)
    return text


def styles_of(template, r, n):
    """n style variants of a template: the same tokens, other bytes."""
    out = [template]
    for _ in range(n - 1):
        case, spacing = r.randrange(4), r.randrange(4)
        out.append([restyle(p, case, spacing, r) if isinstance(p, str) else p
                    for p in template])
    return out


# ----------------------------------------------------------------- instances
def render(parts, lit_):
    out = []
    for p in parts:
        if isinstance(p, str):
            out.append(p)
        elif p[0] == "lit":
            out.append(getattr(lit_, p[1])())
        elif p[0] == "raw":
            out.append(p[1])
        else:
            out.append(lit_.in_list(p[1]))
    return "".join(out).strip()  # statements neither start nor end with blanks


def ad_hoc(r, lit_):
    """A statement whose shape is very likely met only once."""
    t = r.choice(list(SCHEMA))
    cols = SCHEMA[t]
    k = r.random()
    if k < 0.6:
        sel = r.sample(cols, r.randint(1, len(cols)))
        preds = r.sample(cols, r.randint(1, min(4, len(cols))))
        parts = ["SELECT %s FROM %s WHERE " % (", ".join(c for c, _ in sel), t)]
        for i, (c, ty) in enumerate(preds):
            if i:
                parts.append(r.choice([" AND ", " OR "]))
            op = r.choice(["=", "<>", ">", "<=", "IN", "IS NULL", "BETWEEN"])
            if op == "IN":
                parts += ["%s IN (" % c, ("in", ty), ")"]
            elif op == "IS NULL":
                parts.append("%s IS %sNULL" % (c, r.choice(["", "NOT "])))
            elif op == "BETWEEN":
                parts += ["%s BETWEEN " % c, lit(ty), " AND ", lit(ty)]
            else:
                parts += ["%s %s " % (c, op), lit(ty)]
        if r.random() < 0.5:
            parts.append(" ORDER BY " + ", ".join(c for c, _ in r.sample(cols, r.randint(1, 3))))
    elif k < 0.8:
        ins = r.sample(cols, r.randint(2, len(cols)))
        parts = ["INSERT INTO %s (%s) VALUES (" % (t, ", ".join(c for c, _ in ins))]
        for c, ty in ins:
            parts += [lit(ty) if r.random() < 0.7 else bind(c), ", "]
        parts[-1] = ")"
    else:
        upd = r.sample(cols[1:], r.randint(1, len(cols) - 1))
        parts = ["UPDATE %s SET " % t]
        for c, ty in upd:
            parts += ["%s = " % c, lit(ty), ", "]
        parts[-1] = " WHERE %s = " % cols[0][0]
        parts.append(lit(cols[0][1]))
    parts = styles_of(parts, r, 2)[r.randrange(2)]
    return render(parts, lit_)


LIT = None  # the adhoc kind's literals (main sets it)
AGGREGATES = ["SUM", "AVG", "MIN", "MAX", "COUNT"]
OPS = ["=", "<>", ">", ">=", "<", "<=", "IN", "IS NULL", "BETWEEN", "LIKE"]


def predicate(r, alias, c, ty):
    """One WHERE or HAVING condition on column c of type ty."""
    op = r.choice(OPS)
    name = alias + c
    if op == "IN":
        n = r.randint(1, 8) if r.random() < 0.95 else r.randint(9, 200)
        return ["%s IN (" % name, raw(", ".join(getattr(LIT, ty)() for _ in range(n))), ")"]
    if op == "IS NULL":
        return ["%s IS %sNULL" % (name, r.choice(["", "NOT "]))]
    if op == "BETWEEN":
        return ["%s BETWEEN " % name, lit(ty), " AND ", lit(ty)]
    if op == "LIKE":
        return ["%s LIKE " % name, raw("'%" + r.choice(WORDS) + "%'")]
    return ["%s %s " % (name, op), lit(ty) if r.random() < 0.8 else bind(c)]


def conditions(r, alias, cols, least, most):
    parts = []
    for i, (c, ty) in enumerate(r.sample(cols, r.randint(least, min(most, len(cols))))):
        if i:
            parts.append(r.choice([" AND ", " AND ", " OR "]))
        parts += predicate(r, alias, c, ty)
    return parts


def report_select(r):
    """A reporting query: an ordered column list (some aggregated), one table
    or a join, conditions, perhaps grouping, ordering and a page."""
    if r.random() < 0.3:
        a, b, key = r.choice(JOINS)
        tables = [(a, "a."), (b, "b.")]
    else:
        tables = [(r.choice(list(SCHEMA)), "")]
    pool = [(alias + c, c, ty) for t, alias in tables for c, ty in SCHEMA[t]]
    chosen = r.sample(pool, r.randint(2, min(5, len(pool))))
    grouped = r.random() < 0.4
    items, plain = [], []
    for name, c, ty in chosen:
        if grouped and ty in ("money", "small", "real", "pct", "id") and r.random() < 0.5:
            f = r.choice(AGGREGATES)
            items.append("%s(%s) AS %s_%s" % (f, name, f.lower(), c))
        else:
            items.append(name)
            plain.append(name)
    parts = []
    if r.random() < 0.15:
        parts.append(comment(r.choice(HINTS).format(t=tables[0][0])) )
        parts.append(" ")
    parts.append("SELECT %s FROM %s" % (", ".join(items), tables[0][0]))
    if len(tables) == 2:
        parts.append(" a %sJOIN %s b ON b.%s = a.%s" % (r.choice(["", "LEFT "]), tables[1][0],
                                                       key, key))
    t, alias = r.choice(tables)
    parts.append(" WHERE ")
    parts += conditions(r, alias, SCHEMA[t], 1, 3)
    if grouped and plain and len(plain) < len(items):
        parts.append(" GROUP BY " + ", ".join(plain))
        if r.random() < 0.3:
            parts += [" HAVING COUNT(*) > ", lit("small")]
    if r.random() < 0.6:
        order = r.sample(chosen, r.randint(1, min(3, len(chosen))))
        parts.append(" ORDER BY " + ", ".join(n + r.choice(["", " DESC", " ASC"])
                                              for n, _, _ in order))
    if r.random() < 0.3:
        parts += [r.choice([" FETCH FIRST ", " LIMIT "]), lit("small")]
        if parts[-2] == " FETCH FIRST ":
            parts.append(" ROWS ONLY")
    return parts


def report_insert(r):
    """A generated multi-row insert: an ordered column subset, 1 to 4 rows."""
    t = r.choice(list(SCHEMA))
    cols = r.sample(SCHEMA[t], r.randint(2, min(5, len(SCHEMA[t]))))
    parts = ["INSERT INTO %s (%s) VALUES " % (t, ", ".join(c for c, _ in cols))]
    for row in range(r.randint(1, 3)):
        parts.append(", (" if row else "(")
        for i, (c, ty) in enumerate(cols):
            parts += [", " if i else "", lit(ty) if r.random() < 0.7 else bind(c)]
        parts.append(")")
    return parts


def report_update(r):
    t = r.choice(list(SCHEMA))
    cols = SCHEMA[t]
    parts = ["UPDATE %s SET " % t]
    for i, (c, ty) in enumerate(r.sample(cols[1:], r.randint(1, min(4, len(cols) - 1)))):
        parts += [", " if i else "", "%s = " % c, lit(ty) if r.random() < 0.7 else bind(c)]
    parts.append(" WHERE ")
    return parts + conditions(r, "", cols, 1, 3)


def report_statement(r):
    k = r.random()
    parts = report_select(r) if k < 0.7 else report_insert(r) if k < 0.85 else report_update(r)
    return render(styles_of(parts, r, 2)[r.randrange(2)], LIT)


PG_BIND = re.compile(r":[A-Za-z_][A-Za-z0-9_]*")


def pg_copy(text):
    """The same statements as the peers' parsers accept them."""
    return PG_BIND.sub("$1", text).replace("\\*", "/*").replace("*\\", "*/")


def write_adhoc(r, a):
    with open(a.output, "w", encoding="ascii", newline="\n") as out:
        done = 0
        while done < a.count:
            n = min(CHUNK, a.count - done)
            text = "\n".join(report_statement(r) for _ in range(n)) + "\n"
            out.write(text)
            if a.pg:
                with open(a.pg, "a", encoding="ascii", newline="\n") as pg:
                    pg.write(pg_copy(text))
            done += n
    return 0


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--kind", choices=["oltp", "distinct", "adhoc"], default="oltp")
    ap.add_argument("--count", type=int, required=True, help="number of statements")
    ap.add_argument("--seed", type=int, default=20261207)
    ap.add_argument("--templates", type=int, default=320)
    ap.add_argument("--ad-hoc", type=float, default=0.03, help="share of ad-hoc statements")
    ap.add_argument("-o", "--output", required=True, help="statements, one per line")
    ap.add_argument("--pg", help="also write the $1-bind copy here")
    a = ap.parse_args()

    r = random.Random(a.seed)
    lit_ = Lit(r)
    if a.kind == "adhoc":
        global LIT
        LIT = lit_
        return write_adhoc(r, a)
    templates = []
    seen = set()
    while len(templates) < a.templates - 2:
        t = make_template(r)
        key = repr(t)
        if key not in seen:
            seen.add(key)
            templates.append(t)
    templates += document_templates()
    r.shuffle(templates)
    # Zipf-like popularity over the shuffled templates: weight 1/rank^1.1.
    cum, acc = [], 0.0
    for rank in range(len(templates)):
        acc += 1.0 / (rank + 1) ** 1.1
        cum.append(acc)
    variants = [styles_of(t, r, 4) for t in templates]
    ad_hoc_share = 1.0 if a.kind == "distinct" else a.ad_hoc

    out = open(a.output, "w", encoding="ascii", newline="\n")
    pg = open(a.pg, "w", encoding="ascii", newline="\n") if a.pg else None
    done = 0
    rand = r.random
    while done < a.count:
        n = min(CHUNK, a.count - done)
        # Always draw a whole chunk, so the stream does not depend on --count.
        picks = r.choices(variants, cum_weights=cum, k=CHUNK)
        lines = []
        for v in picks[:n]:
            if rand() < ad_hoc_share:
                lines.append(ad_hoc(r, lit_))
            else:
                lines.append(render(v[int(rand() * 4)], lit_))
        text = "\n".join(lines) + "\n"
        out.write(text)
        if pg:
            pg.write(pg_copy(text))
        done += n
    out.close()
    if pg:
        pg.close()


if __name__ == "__main__":
    sys.exit(main())
