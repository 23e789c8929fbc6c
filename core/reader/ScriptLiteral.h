#pragma once

#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringView>

namespace vantero {

// Reads the data an item page keeps in its scripts. Page scripts write their configuration as
// JavaScript object literals, not JSON: unquoted or single-quoted keys, single-quoted strings,
// comments, trailing commas and expressions such as (+new Date()). The reader takes strings,
// numbers, true/false/null, arrays and objects, and skips any expression it meets (its value is
// null); it never runs anything. It is bounded: nesting deeper than kMaxDepth and more than a
// budget of values are not read, so a hostile page costs at most linear time.
class TScriptLiteralReader {
public:
    static constexpr int kMaxDepth = 48;

    // budget: how many values (of any kind) may still be read.
    TScriptLiteralReader(QStringView text, int budget) : m_text(text), m_budget(budget) {}

    // The literal at pos (blanks and comments before it skipped); pos moves past it. An expression
    // reads as null and is skipped up to the next "," or closing bracket of its level.
    QJsonValue Read(qsizetype& pos);

    int budget() const { return m_budget; }

private:
    QJsonValue ReadValue(qsizetype& pos, int depth);
    QJsonValue ReadObject(qsizetype& pos, int depth);
    QJsonValue ReadArray(qsizetype& pos, int depth);
    bool ReadString(qsizetype& pos, QString* out);
    bool ReadNumber(qsizetype& pos, double* out);
    void SkipBlanks(qsizetype& pos) const;
    // Skips an expression up to (not over) a "," or a closing bracket at its own level.
    void SkipExpression(qsizetype& pos) const;

    QStringView m_text;
    int m_budget;
};

// An object or array literal of a script, with the name it was given to: "g_config" for
// "g_config = {...}", "TShop.Setup" for "TShop.Setup({...})", "JSON.parse" for a JSON text passed
// to it (read as JSON).
struct TScriptBlock {
    QString name;
    QJsonValue value;
};

// Every literal a script assigns to a name or passes to a call, in script order; literals inside
// one are part of it. budget bounds the values read over the whole script.
QList<TScriptBlock> ScriptBlocks(QStringView script, int budget = 400000);

} // namespace vantero
