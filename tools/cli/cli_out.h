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
    int Finish(TExit status) {
        if (json_) {
            if (!errors_.isEmpty())
                root_.insert(QStringLiteral("errors"), errors_);
            root_.insert(QStringLiteral("exit"), ToInt(status));
            std::fputs(QJsonDocument(root_).toJson(QJsonDocument::Indented).constData(), stdout);
        }
        std::fflush(stdout);
        return ToInt(status);
    }

private:
    bool json_;
    QJsonObject root_;
    QJsonArray errors_;
};

} // namespace varnix::cli
