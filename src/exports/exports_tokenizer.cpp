#include "exports/exports_tokenizer.h"

namespace {

int Get(ExportsTokenizer *t)
{
    if (t->pushedBack >= 0) {
        int c = t->pushedBack;
        t->pushedBack = -1;
        return c;
    }
    return getc(t->file);
}

void Unget(ExportsTokenizer *t, int c)
{
    if (c != EOF)
        t->pushedBack = c;
}

// Carriage returns count as blanks so that files written on Windows read the
// same everywhere.
bool IsBlank(int c) { return c == ' ' || c == '\t' || c == '\r'; }
bool EndsWord(int c) { return c == EOF || c == '\n' || IsBlank(c); }

bool BeginsWord(int c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '\\' || c == '"';
}

void Init(ExportsTokenizer *t)
{
    t->pushedBack = -1;
    t->line = 1;
    t->tokenLine = 1;
    t->token[0] = 0;
}

} // namespace

void TokenizerOpenFile(ExportsTokenizer *t, FILE *file)
{
    t->file = file;
    Init(t);
}

void SkipRestOfLine(ExportsTokenizer *t)
{
    int c;
    while ((c = Get(t)) != EOF && c != '\n') {
    }
    Unget(t, c);
}

ExportsTokenKind NextToken(ExportsTokenizer *t)
{
    int c;
    for (;;) {
        c = Get(t);
        if (IsBlank(c))
            continue;
        if (c == '#') {
            SkipRestOfLine(t);
            continue;
        }
        break;
    }
    t->token[0] = 0;
    t->tokenLine = t->line;
    if (c == EOF)
        return TOKEN_END;
    if (c == '\n') {
        t->line++;
        return TOKEN_LINE_END;
    }

    size_t n = 0;
    bool tooLong = false;
    bool valid = true;
    if (c == '-') {
        // An option runs to the next blank; quotes mean nothing in it.
        while (!EndsWord(c = Get(t))) {
            if (c == 0)
                valid = false;
            if (n < EXPORTS_TOKEN_MAX)
                t->token[n++] = static_cast<char>(c);
            else
                tooLong = true;
        }
        Unget(t, c);
        t->token[n] = 0;
        return (tooLong || !valid) ? TOKEN_INVALID : TOKEN_OPTION;
    }

    valid = BeginsWord(c);
    bool quoted = false;
    bool special = false;
    for (;; c = Get(t)) {
        if (c == EOF || c == '\n') {
            if (quoted)
                valid = false;  // unclosed quote at the end of the line or file
            break;
        }
        if (!quoted && IsBlank(c))
            break;
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (c == 0)
            valid = false;      // a NUL would cut the word short unseen
        if (c == '\\' || c == ':' || c == '{')
            special = true;
        if (n < EXPORTS_TOKEN_MAX)
            t->token[n++] = static_cast<char>(c);
        else
            tooLong = true;
    }
    Unget(t, c);
    t->token[n] = 0;
    if (!valid || tooLong)
        return TOKEN_INVALID;
    return special ? TOKEN_PATH : TOKEN_CLIENT;
}
