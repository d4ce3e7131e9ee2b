// Tokens of the exports file.  Blanks and tabs separate tokens; line ends
// only count lines and end comments.  A token that begins with '#' makes the
// rest of its line a comment; '-' begins an option that runs to the next
// blank; any other token is a word: a path when it holds a backslash, a
// colon or '{', else a client.  Double quotes in a word are removed and let it
// hold blanks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

enum ExportsTokenKind {
    TOKEN_END,       // end of the file
    TOKEN_LINE_END,  // a line end (the line counter has moved on)
    TOKEN_PATH,
    TOKEN_OPTION,    // text is the option word without its '-'
    TOKEN_CLIENT,
    TOKEN_INVALID,   // a word that cannot stand in the file (text holds what was read)
};

// Longest token the file allows, without terminator.
#define EXPORTS_TOKEN_MAX 2047

struct ExportsTokenizer {
    FILE *file;          // read with getc
    int pushedBack;      // one character given back, or -1
    uint32_t line;       // line of the next character, from 1
    uint32_t tokenLine;  // line on which the last token began
    char token[EXPORTS_TOKEN_MAX + 1];
};

void TokenizerOpenFile(ExportsTokenizer *t, FILE *file);

// Reads the next token into t->token and returns its kind.
ExportsTokenKind NextToken(ExportsTokenizer *t);

// Skips what is left of the current line; the line end itself is the next
// token.
void SkipRestOfLine(ExportsTokenizer *t);
