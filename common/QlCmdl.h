// QlCmdLine: splits a command line into arguments, one token at a time.
//
// The rest is the part of the line not yet consumed and always begins with the
// current token, which is kept exactly as it stands in the line (quotes kept).
#pragma once

#include "common/QlString.h"

// Thrown (as an int) when a quoted token has no closing quote.
const int kQlCmdLineOpenQuote = 998;

class QlCmdLine {
public:
    QlCmdLine() = default;
    explicit QlCmdLine(const QlStr& line) { Reset(line); }

    // Takes a new line (blanks trimmed at both ends) and parses its first token.
    bool Reset(const QlStr& line);

    bool IsDone() const { return !rest_.HasText(); }
    bool HasMore() const { return token_.Length() < rest_.Length(); }
    QlStr GetToken() const { return token_; }
    QlStr GetRest() const { return rest_; }

    // Drops the current token and parses the next into out; true when it has
    // text.
    bool NextArg(QlStr& out);
    // Cuts the rest to start offset units in (a value glued to a switch
    // keyword) and parses a token there into out.
    bool ArgAfter(int offset, QlStr& out);
    // Removes the token from the front of the rest, with the blanks behind it.
    void DropToken();
    void Clear();

private:
    bool ParseToken();

    QlStr rest_;
    QlStr token_;
};
