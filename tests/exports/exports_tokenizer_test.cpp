// Tokens of the exports file, read from memory, and the line counter.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "exports/exports_tokenizer.h"

namespace {

// "kind:text@line" for every token up to the end.
std::vector<std::string> Tokens(const std::string &text)
{
    static const char *const kNames[] = {"end", "eol", "path", "opt", "client", "invalid"};
    ExportsTokenizer *t = new ExportsTokenizer;
    TokenizerOpenText(t, text.data(), text.size());
    std::vector<std::string> out;
    for (;;) {
        ExportsTokenKind kind = NextToken(t);
        out.push_back(std::string(kNames[kind]) + ":" + t->token + "@" + std::to_string(t->tokenLine));
        if (kind == TOKEN_END)
            break;
    }
    delete t;
    return out;
}

using V = std::vector<std::string>;

} // namespace

TEST(ExportsTokenizer, CommentsQuotesAndInvalidWords)
{
    EXPECT_EQ(Tokens("# all of it -ro\nx#y # z\n"),
              (V{"eol:@1", "client:x#y@2", "eol:@2", "end:@3"}));
    EXPECT_EQ(Tokens("\"C:\\a b\"c \"host\"\n"), (V{"path:C:\\a bc@1", "client:host@1", "eol:@1", "end:@2"}));
    EXPECT_EQ(Tokens("\"C:\\open\nnext"), (V{"invalid:C:\\open@1", "eol:@1", "client:next@2", "end:@2"}));
    EXPECT_EQ(Tokens("@grp .x _y"), (V{"invalid:@grp@1", "invalid:.x@1", "invalid:_y@1", "end:@1"}));
    EXPECT_EQ(Tokens("-\"a b\""), (V{"opt:\"a@1", "invalid:b@1", "end:@1"}));  // an option knows no quotes
    EXPECT_EQ(Tokens(std::string("C:\\a\0b x", 8)), (V{"invalid:C:\\a@1", "client:x@1", "end:@1"}));
}
