#pragma once
// The output of the LAN commands of varnix-cli.

#include "cli/exit_codes.h"
#include "lang/safe_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cstdio>

namespace varnix::cli {

// Output: lines for people on stdout, or one JSON document with --json. Problems always go
// to stderr as well, so a script that parses stdout still sees them in its log. A line is one
// line: any control character that reaches it (from a file name, a profile key, a module's
// text) is written escaped rather than acted on by the terminal.
class TOut {
public:
    explicit TOut(bool json) : json_(json) {}
    bool Json() const { return json_; }
    void Line(const QString& text = {}) {
        if (json_)
            return;
        std::fputs(EscapeForTerminal(text, false).toUtf8().constData(), stdout);
        std::fputc('\n', stdout);
    }
    void Error(const QString& text) {
        std::fputs((QStringLiteral("varnix-cli: ") + EscapeForTerminal(text, false)).toUtf8().constData(),
                   stderr);
        std::fputc('\n', stderr);
        errors_.append(text);
    }
    QJsonObject& Root() { return root_; }
    // A long list already written as JSON values (one per element), put under `key` as the
    // document's last member: ten thousand rows are written without building a QJsonObject each.
    // The key must sort after every other key of the document.
    void RawList(const QString& key, QList<QByteArray> elements) {
        rawKey_ = key;
        raw_ = std::move(elements);
    }
    int Finish(TExit status) {
        if (json_) {
            if (!errors_.isEmpty())
                root_.insert(QStringLiteral("errors"), errors_);
            root_.insert(QStringLiteral("exit"), ToInt(status));
            QByteArray doc = QJsonDocument(root_).toJson(QJsonDocument::Indented);
            if (!rawKey_.isEmpty()) {
                doc.truncate(doc.lastIndexOf('}'));
                doc.chop(1); // the newline before it
                doc += ",\n    \"" + rawKey_.toUtf8() + "\": [";
                for (qsizetype i = 0; i < raw_.size(); ++i)
                    doc += (i ? ",\n        " : "\n        ") + raw_[i];
                doc += raw_.isEmpty() ? "]\n}\n" : "\n    ]\n}\n";
            }
            std::fputs(doc.constData(), stdout);
        }
        std::fflush(stdout);
        return ToInt(status);
    }

private:
    bool json_;
    QJsonObject root_;
    QJsonArray errors_;
    QString rawKey_;
    QList<QByteArray> raw_;
};

} // namespace varnix::cli
