#include "store/ServerDialect.h"

#include "store/Schema.h"

#include <QHash>
#include <QSet>

#include <vector>

namespace vantero {

namespace {

// Key columns of the added tables that compare without regard to ASCII case, by table.
const QHash<QString, QSet<QString>>& CaseBlindColumns() {
    static const QHash<QString, QSet<QString>> columns = [] {
        QHash<QString, QSet<QString>> found;
        for (const TTableDef& table : DatabaseTables()) {
            QSet<QString>& names = found[QString::fromLatin1(table.name).toLower()];
            for (const TColumnDef& column : table.columns) {
                if (column.type == TColumnType::Text)
                    names.insert(QString::fromLatin1(column.name).toLower());
            }
        }
        const QSet<QString> page = {QStringLiteral("localitemid"), QStringLiteral("rivalww"),
                                    QStringLiteral("rivalitemid")};
        found.insert(QStringLiteral("readingstatus"), page);
        found.insert(QStringLiteral("pricehistory"), page);
        found.insert(QStringLiteral("alerts"), {QStringLiteral("localitemid"), QStringLiteral("rivalww")});
        found.insert(QStringLiteral("readmodes"), {QStringLiteral("localitemid"), QStringLiteral("rivalww")});
        found.insert(QStringLiteral("options"), {QStringLiteral("name")});
        return found;
    }();
    return columns;
}

const QHash<QString, QString>& CanonicalNames() {
    static const QHash<QString, QString> names = [] {
        QHash<QString, QString> found;
        auto add = [&found](const QString& name) { found.insert(name.toLower(), name); };
        for (const TTableDef& table : DatabaseTables()) {
            add(QString::fromLatin1(table.name));
            for (const TColumnDef& column : table.columns)
                add(QString::fromLatin1(column.name));
        }
        for (const char* name :
             {"ReadingStatus", "PriceHistory", "Alerts",   "AlertSends",  "Options",   "ReadModes", "LocalItemID",
              "RivalWW",       "RivalItemID",  "URL",      "LastAttempt", "LastCode",  "LastText",  "LastSuccess",
              "FailedInRow",   "LastTiming",   "ReadAt",   "Price",       "SellCount", "AlertID",   "CreatedAt",
              "Kind",          "OldPrice",     "NewPrice", "OwnPrice",    "IsRead",    "Round",     "Channel",
              "SentAt",        "Ok",           "Tries",    "ErrorText",   "Name",      "Value",     "Mode"})
            add(QString::fromLatin1(name));
        found.insert(QStringLiteral("rowid"), QStringLiteral("rowid"));
        return found;
    }();
    return names;
}

enum class TKind { Space, Word, Quoted, String, Number, Param, Symbol };

struct TToken {
    TKind kind;
    QString text;
    QString before; // written in front of the token
    QString after;  // written behind it
    bool dropped = false;
    bool caseBlind = false; // marked "COLLATE NOCASE" in the statement
};

bool IsWordStart(QChar c) {
    return c.isLetter() || c == u'_';
}

bool IsWordPart(QChar c) {
    return c.isLetterOrNumber() || c == u'_';
}

std::vector<TToken> Tokens(const QString& sql) {
    std::vector<TToken> tokens;
    qsizetype at = 0;
    const qsizetype n = sql.size();
    auto push = [&tokens, &sql](TKind kind, qsizetype from, qsizetype to) {
        tokens.push_back({kind, sql.mid(from, to - from), {}, {}, false, false});
    };
    while (at < n) {
        const QChar c = sql[at];
        qsizetype end = at + 1;
        if (c.isSpace()) {
            while (end < n && sql[end].isSpace())
                ++end;
            push(TKind::Space, at, end);
        } else if (c == u'\'' || c == u'"') {
            while (end < n) {
                if (sql[end] == c) {
                    if (end + 1 < n && sql[end + 1] == c) {
                        end += 2;
                        continue;
                    }
                    ++end;
                    break;
                }
                ++end;
            }
            push(c == u'\'' ? TKind::String : TKind::Quoted, at, end);
        } else if (IsWordStart(c)) {
            while (end < n && IsWordPart(sql[end]))
                ++end;
            push(TKind::Word, at, end);
        } else if (c.isDigit()) {
            while (end < n && (sql[end].isDigit() || sql[end] == u'.'))
                ++end;
            push(TKind::Number, at, end);
        } else if (c == u'?') {
            push(TKind::Param, at, end);
        } else {
            if (end < n) {
                const QString two = sql.mid(at, 2);
                if (two == u"<>" || two == u"!=" || two == u"<=" || two == u">=" || two == u"||")
                    ++end;
            }
            push(TKind::Symbol, at, end);
        }
        at = end;
    }
    return tokens;
}

bool Is(const TToken& token, QLatin1StringView word) {
    return token.kind == TKind::Word && token.text.compare(word, Qt::CaseInsensitive) == 0;
}

} // namespace

QString CanonicalColumnName(const QString& serverName) {
    return CanonicalNames().value(serverName, serverName);
}

bool IsCaseBlindColumn(const QString& table, const QString& column) {
    return CaseBlindColumns().value(table.toLower()).contains(column.toLower());
}

TServerStatementText TranslateForServer(const QString& sql,
                                        const std::function<QStringList(const QString& table)>& columnsOf) {
    std::vector<TToken> tokens = Tokens(sql);
    // The meaningful tokens, by position in tokens.
    std::vector<size_t> at;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != TKind::Space)
            at.push_back(i);
    }
    auto tok = [&](size_t k) -> TToken& { return tokens[at[k]]; };
    const size_t count = at.size();

    // The tables the statement names, and the one it inserts into.
    QStringList tables;
    QString insertInto;
    for (size_t k = 0; k + 1 < count; ++k) {
        if ((Is(tok(k), QLatin1String("from")) || Is(tok(k), QLatin1String("join")) ||
             Is(tok(k), QLatin1String("update")) || Is(tok(k), QLatin1String("into"))) &&
            tok(k + 1).kind == TKind::Word) {
            tables << tok(k + 1).text.toLower();
            if (Is(tok(k), QLatin1String("into")))
                insertInto = tok(k + 1).text;
        }
    }
    const bool onAlerts = tables.contains(QStringLiteral("alerts"));
    auto caseBlindName = [&](const QString& column) {
        for (const QString& table : std::as_const(tables)) {
            if (IsCaseBlindColumn(table, column))
                return true;
        }
        return false;
    };

    // "X COLLATE NOCASE": the engine's own comparison is written out below.
    for (size_t k = 1; k + 1 < count; ++k) {
        if (Is(tok(k), QLatin1String("collate")) && Is(tok(k + 1), QLatin1String("nocase"))) {
            tok(k - 1).caseBlind = true;
            tok(k).dropped = tok(k + 1).dropped = true;
            for (size_t i = at[k] - 1; i < at[k + 1]; ++i)
                tokens[i].dropped = tokens[i].dropped || tokens[i].kind == TKind::Space;
        }
    }
    for (size_t k = 0; k < count; ++k) {
        TToken& t = tok(k);
        if (onAlerts && Is(t, QLatin1String("rowid")))
            t.text = QStringLiteral("AlertID");
        if (Is(t, QLatin1String("group_concat")))
            t.text = QStringLiteral("string_agg");
    }

    // "select *" and "select rowid, *": the table's own columns.
    for (size_t k = 1; k + 2 < count; ++k) {
        if (tok(k).kind == TKind::Symbol && tok(k).text == u"*" && Is(tok(k + 1), QLatin1String("from")) &&
            (Is(tok(k - 1), QLatin1String("select")) || tok(k - 1).text == u",") && tok(k + 2).kind == TKind::Word) {
            QStringList columns = columnsOf(tok(k + 2).text);
            columns.removeAll(QStringLiteral("rowid"));
            if (!columns.isEmpty())
                tok(k).text = columns.join(u", ");
        }
    }

    // An operand of a comparison: a column (maybe qualified), a parameter or a text. Gives the
    // first and last meaningful token, or false.
    auto operandBefore = [&](size_t op, size_t* first, size_t* last) {
        if (op == 0)
            return false;
        const size_t k = op - 1;
        const TToken& t = tok(k);
        if (t.kind == TKind::Param || t.kind == TKind::String) {
            *first = *last = k;
            return true;
        }
        if (t.kind != TKind::Word)
            return false;
        *last = k;
        *first = (k >= 2 && tok(k - 1).text == u"." && tok(k - 2).kind == TKind::Word) ? k - 2 : k;
        return true;
    };
    auto operandAfter = [&](size_t op, size_t* first, size_t* last) {
        const size_t k = op + 1;
        if (k >= count)
            return false;
        const TToken& t = tok(k);
        if (t.kind == TKind::Param || t.kind == TKind::String) {
            *first = *last = k;
            return true;
        }
        if (t.kind != TKind::Word || Is(t, QLatin1String("case")) || Is(t, QLatin1String("select")))
            return false;
        *first = k;
        *last = (k + 2 < count && tok(k + 1).text == u"." && tok(k + 2).kind == TKind::Word) ? k + 2 : k;
        return true;
    };
    auto isCaseBlind = [&](size_t first, size_t last) {
        return tok(last).caseBlind || (tok(last).kind == TKind::Word && caseBlindName(tok(last).text)) ||
               (tok(first).caseBlind);
    };
    auto wrap = [&](size_t first, size_t last) {
        tok(first).before += QStringLiteral("lower(");
        tok(last).after += tok(last).kind == TKind::Param ? QStringLiteral("::text COLLATE \"C\")")
                                                          : QStringLiteral(" COLLATE \"C\")");
    };

    bool inSet = false;
    int depth = 0;
    int orderDepth = -1; // the parenthesis depth of an ORDER BY being read
    for (size_t k = 0; k < count; ++k) {
        TToken& t = tok(k);
        if (t.kind == TKind::Symbol && t.text == u"(")
            ++depth;
        if (t.kind == TKind::Symbol && t.text == u")") {
            if (orderDepth == depth)
                orderDepth = -1;
            --depth;
        }
        if (Is(t, QLatin1String("set")))
            inSet = true;
        if (Is(t, QLatin1String("where")) || Is(t, QLatin1String("returning")) || Is(t, QLatin1String("from")))
            inSet = false;
        if (Is(t, QLatin1String("limit")) && orderDepth == depth)
            orderDepth = -1;
        if (Is(t, QLatin1String("order")) && k + 1 < count && Is(tok(k + 1), QLatin1String("by"))) {
            orderDepth = depth;
            ++k;
            continue;
        }
        // ON CONFLICT (a, b): the key's columns as the server's unique index names them.
        if (Is(t, QLatin1String("conflict")) && k + 1 < count && tok(k + 1).text == u"(") {
            size_t j = k + 2;
            for (; j < count && tok(j).text != u")"; ++j) {
                if (tok(j).kind == TKind::Word && caseBlindName(tok(j).text))
                    wrap(j, j);
            }
            k = j;
            continue;
        }
        if (orderDepth == depth && t.kind == TKind::Word && caseBlindName(t.text)) {
            // A key column ordered by itself (not part of an expression).
            const bool alone = (k + 1 >= count || tok(k + 1).text == u"," || tok(k + 1).text == u")" ||
                                Is(tok(k + 1), QLatin1String("asc")) || Is(tok(k + 1), QLatin1String("desc")) ||
                                Is(tok(k + 1), QLatin1String("limit"))) &&
                               (k == 0 || tok(k - 1).text != u".");
            const bool qualifiedAlone =
                k >= 2 && tok(k - 1).text == u"." &&
                (k + 1 >= count || tok(k + 1).text == u"," || Is(tok(k + 1), QLatin1String("asc")) ||
                 Is(tok(k + 1), QLatin1String("desc")) || Is(tok(k + 1), QLatin1String("limit")));
            if (alone)
                wrap(k, k);
            else if (qualifiedAlone)
                wrap(k - 2, k);
        }
        if (inSet || t.kind != TKind::Symbol || !(t.text == u"=" || t.text == u"<>" || t.text == u"!="))
            continue;
        size_t leftFirst = 0, leftLast = 0, rightFirst = 0, rightLast = 0;
        if (!operandBefore(k, &leftFirst, &leftLast) || !operandAfter(k, &rightFirst, &rightLast))
            continue;
        if (!isCaseBlind(leftFirst, leftLast) && !isCaseBlind(rightFirst, rightLast))
            continue;
        wrap(leftFirst, leftLast);
        wrap(rightFirst, rightLast);
    }

    // In an upsert's DO UPDATE, a bare column is the row already stored (the file's reading);
    // the server wants it named by its table, beside "excluded".
    for (size_t k = 0; k + 2 < count; ++k) {
        if (!(Is(tok(k), QLatin1String("do")) && Is(tok(k + 1), QLatin1String("update")) &&
              Is(tok(k + 2), QLatin1String("set"))) ||
            insertInto.isEmpty())
            continue;
        const QStringList columns = columnsOf(insertInto);
        for (size_t j = k + 3; j < count && !Is(tok(j), QLatin1String("where")); ++j) {
            TToken& t = tok(j);
            if (t.kind != TKind::Word || !columns.contains(t.text.toLower()))
                continue;
            const bool qualified = tok(j - 1).text == u"." || (j + 1 < count && tok(j + 1).text == u".");
            const bool target = j + 1 < count && tok(j + 1).text == u"=" &&
                                (Is(tok(j - 1), QLatin1String("set")) || tok(j - 1).text == u",");
            if (!qualified && !target)
                t.before = insertInto + u'.' + t.before;
        }
        break;
    }

    // A plain read of one table comes in the order the rows were written, as the file's table
    // scan gives it (the server's own order moves a row when it is updated).
    if (count > 0 && Is(tok(0), QLatin1String("select"))) {
        int level = 0;
        int froms = 0;
        bool plain = true;
        size_t limitAt = count;
        QString table;
        for (size_t k = 0; k < count && plain; ++k) {
            const TToken& t = tok(k);
            if (t.text == u"(")
                ++level;
            else if (t.text == u")")
                --level;
            if (level != 0)
                continue;
            if (Is(t, QLatin1String("from"))) {
                ++froms;
                if (k + 1 < count)
                    table = tok(k + 1).text;
            } else if (Is(t, QLatin1String("join")) || Is(t, QLatin1String("order")) || Is(t, QLatin1String("group")) ||
                       Is(t, QLatin1String("distinct")) || Is(t, QLatin1String("union")) ||
                       (t.text == u"," && froms > 0)) {
                plain = false; // already ordered, or more than one table's rows
            } else if (Is(t, QLatin1String("limit")) && limitAt == count) {
                limitAt = k;
            } else if (t.kind == TKind::Word && k + 1 < count && tok(k + 1).text == u"(" &&
                       (Is(t, QLatin1String("count")) || Is(t, QLatin1String("max")) || Is(t, QLatin1String("min")) ||
                        Is(t, QLatin1String("sum")) || Is(t, QLatin1String("avg")) || Is(t, QLatin1String("total")) ||
                        Is(t, QLatin1String("group_concat")) || Is(t, QLatin1String("string_agg")))) {
                plain = false;
            }
        }
        if (plain && froms == 1 && !table.isEmpty()) {
            const QString order = table.compare(QLatin1String("alerts"), Qt::CaseInsensitive) == 0
                                      ? QStringLiteral(" ORDER BY AlertID")
                                      : QStringLiteral(" ORDER BY rowid");
            if (limitAt < count)
                tok(limitAt).before = order.mid(1) + u' ' + tok(limitAt).before;
            else
                tokens.back().after += order;
        }
    }

    TServerStatementText result;
    for (TToken& t : tokens) {
        if (t.dropped)
            continue;
        if (t.kind == TKind::Param)
            t.text = QStringLiteral("$%1").arg(++result.parameters);
        result.text += t.before + t.text + t.after;
    }
    if (count > 0 && Is(tok(0), QLatin1String("insert")) && !insertInto.isEmpty() &&
        !sql.contains(QLatin1String("returning"), Qt::CaseInsensitive)) {
        result.text += insertInto.compare(QLatin1String("alerts"), Qt::CaseInsensitive) == 0
                           ? QStringLiteral(" RETURNING AlertID")
                           : QStringLiteral(" RETURNING rowid");
        result.returnsRowId = true;
    }
    return result;
}

} // namespace vantero
