// XDR writers and argument readers.
#include "rpc/xdr.h"

#include <cstdarg>
#include <cstring>

#include "rpc/rpc_message.h"

uint32_t XdrLoad32(const uint8_t *in)
{
    return (uint32_t)in[0] << 24 | (uint32_t)in[1] << 16 | (uint32_t)in[2] << 8 | (uint32_t)in[3];
}

void XdrStore32(uint8_t *out, uint32_t value)
{
    out[0] = (uint8_t)(value >> 24);
    out[1] = (uint8_t)(value >> 16);
    out[2] = (uint8_t)(value >> 8);
    out[3] = (uint8_t)value;
}

// Writes `length` bytes and the zero padding behind them; the copy is skipped
// when the bytes are already in place, and memmove keeps overlapping moves
// (results built over the received call) intact.
static uint32_t PutPadded(uint8_t *out, const void *data, uint32_t length)
{
    if (length != 0 && out != data) {
        memmove(out, data, length);
    }
    uint32_t padded = XdrPadded(length);
    for (uint32_t i = length; i < padded; i++) {
        out[i] = 0;
    }
    return padded;
}

uint32_t XdrPack(uint8_t *out, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    uint8_t *p = out;
    for (const char *f = format; *f != '\0'; f++) {
        switch (*f) {
        case 'q':
            XdrStore32(p, va_arg(args, uint32_t));
            p += 4;
            break;
        case 'w':
            // Promoted to int when passed; only the low 16 bits count.
            XdrStore32(p, (uint16_t)va_arg(args, unsigned int));
            p += 4;
            break;
        case 'Q': {
            uint32_t raw = va_arg(args, uint32_t);
            memcpy(p, &raw, 4);
            p += 4;
            break;
        }
        case 'W': {
            uint32_t raw = (uint16_t)va_arg(args, unsigned int);
            memcpy(p, &raw, 4);
            p += 4;
            break;
        }
        case 'O': {
            const uint8_t *opaque = va_arg(args, const uint8_t *);
            uint32_t length = XdrLoad32(opaque);
            memmove(p, opaque, 4);
            p += 4 + PutPadded(p + 4, opaque + 4, length);
            break;
        }
        case 'o': {
            const uint8_t *opaque = va_arg(args, const uint8_t *);
            uint32_t length;
            memcpy(&length, opaque, 4);
            XdrStore32(p, length);
            p += 4 + PutPadded(p + 4, opaque + 4, length);
            break;
        }
        default:
            break;
        }
    }
    va_end(args);
    return (uint32_t)(p - out);
}

uint32_t XdrPutNothing(uint8_t *out, const void *result)
{
    (void)out;
    (void)result;
    return 0;
}

uint32_t XdrPutU32(uint8_t *out, const void *value)
{
    uint32_t v;
    memcpy(&v, value, 4);
    XdrStore32(out, v);
    return 4;
}

uint32_t XdrPutWord(uint8_t *out, uint32_t value)
{
    XdrStore32(out, value);
    return 4;
}

uint32_t XdrPutHyper(uint8_t *out, uint64_t value)
{
    XdrStore32(out, (uint32_t)(value >> 32));
    XdrStore32(out + 4, (uint32_t)value);
    return 8;
}

uint32_t XdrPutFixedOpaque(uint8_t *out, const void *data, uint32_t length)
{
    return PutPadded(out, data, length);
}

uint32_t XdrPutOpaque(uint8_t *out, const void *data, uint32_t length)
{
    // The data may lie right behind the length word already (read straight
    // into the reply); store the length last so it cannot overwrite it.
    uint32_t padded = PutPadded(out + 4, data, length);
    XdrStore32(out, length);
    return 4 + padded;
}

// --- Readers ----------------------------------------------------------------

uint32_t XdrArgsLeft(const RpcCall *call)
{
    uint64_t pos = (uint64_t)call->arg_pos * 4;
    return pos >= call->arg_length ? 0 : (uint32_t)(call->arg_length - pos);
}

static const uint8_t *ArgsAt(const RpcCall *call)
{
    return call->args + (size_t)call->arg_pos * 4;
}

uint32_t XdrGetString(RpcCall *call, char *out, uint32_t max)
{
    uint32_t left = XdrArgsLeft(call);
    if (left >= 4 && max > 0) {
        uint32_t length = XdrLoad32(ArgsAt(call));
        if (length < max && XdrPadded(length) <= left - 4) {
            memcpy(out, ArgsAt(call) + 4, length);
            out[length] = '\0';
            call->arg_pos += 1 + XdrPadded(length) / 4;
            return length + 1;
        }
    }
    if (max > 0) {
        out[0] = '\0';
    }
    return 0;
}

bool XdrGetU32(RpcCall *call, uint32_t *value)
{
    if (XdrArgsLeft(call) < 4) {
        return false;
    }
    *value = XdrLoad32(ArgsAt(call));
    call->arg_pos++;
    return true;
}

bool XdrGetU64(RpcCall *call, uint64_t *value)
{
    if (XdrArgsLeft(call) < 8) {
        return false;
    }
    const uint8_t *p = ArgsAt(call);
    *value = (uint64_t)XdrLoad32(p) << 32 | XdrLoad32(p + 4);
    call->arg_pos += 2;
    return true;
}

bool XdrGetOpaqueRef(RpcCall *call, const uint8_t **data, uint32_t max, uint32_t *length)
{
    uint32_t left = XdrArgsLeft(call);
    if (left < 4) {
        return false;
    }
    uint32_t n = XdrLoad32(ArgsAt(call));
    if (n > max || XdrPadded(n) > left - 4 || n > 0xFFFFFFF0u) {
        return false;
    }
    *data = ArgsAt(call) + 4;
    *length = n;
    call->arg_pos += 1 + XdrPadded(n) / 4;
    return true;
}

bool XdrGetOpaque(RpcCall *call, uint8_t *out, uint32_t max, uint32_t *length)
{
    const uint8_t *data;
    if (!XdrGetOpaqueRef(call, &data, max, length)) {
        return false;
    }
    memcpy(out, data, *length);
    return true;
}

bool XdrGetFixedOpaque(RpcCall *call, uint8_t *out, uint32_t length)
{
    if (length > 0xFFFFFFF0u || XdrPadded(length) > XdrArgsLeft(call)) {
        return false;
    }
    memcpy(out, ArgsAt(call), length);
    call->arg_pos += XdrPadded(length) / 4;
    return true;
}
