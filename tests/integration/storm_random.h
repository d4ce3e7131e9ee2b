// The random source and message mutations of the bounded storms.
#pragma once

#include <cstdint>
#include <string>

#include "support/rpc_test_client.h"

struct Random {
    uint64_t state;
    uint32_t Next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return (uint32_t)(state >> 11);
    }
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : Next() % n; }
    std::string Bytes(size_t n)
    {
        std::string s(n, '\0');
        for (size_t i = 0; i < n; i++)
            s[i] = (char)Next();
        return s;
    }
};

// A message truncated, with a flipped byte, with a word overwritten, or
// whole.
inline std::string Mutate(Random &r, std::string message)
{
    switch (r.Below(4)) {
    case 0:  // truncated
        return message.substr(0, r.Below((uint32_t)message.size() + 1));
    case 1:  // a flipped byte
        if (!message.empty())
            message[r.Below((uint32_t)message.size())] ^= (char)(1 + r.Below(255));
        return message;
    case 2:  // a random word overwritten
        if (message.size() >= 4) {
            size_t at = r.Below((uint32_t)message.size() / 4) * 4;
            std::string w;
            PutWord(w, r.Below(2) ? r.Next() : 0xFFFFFFFFu);
            message.replace(at, 4, w);
        }
        return message;
    default:
        return message;
    }
}
