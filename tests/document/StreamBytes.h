#pragma once
// Builds hotspot stream bytes field by field, independently of the writer
// under test, so the reader is checked against hand-made layouts.
#include <cstdint>
#include <sstream>
#include <string>

class StreamBytes {
public:
    StreamBytes& raw(const std::string& bytes) { bytes_ += bytes; return *this; }
    StreamBytes& u32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes_ += char((v >> (8 * i)) & 0xFF);
        return *this;
    }
    StreamBytes& narrow(const std::string& s) { return u32(uint32_t(s.size())).raw(s); }
    StreamBytes& wide(const std::u16string& s)
    {
        u32(uint32_t(s.size() * 2));
        for (char16_t c : s)
            bytes_ += char(c & 0xFF), bytes_ += char(c >> 8);
        return *this;
    }
    StreamBytes& header(int32_t count) { return raw("QELHTF").narrow("1.0").u32(uint32_t(count)); }
    StreamBytes& gm(const std::string& ref, const std::string& info, const std::u16string& text,
                    int32_t l, int32_t t, int32_t r, int32_t b)
    {
        return narrow("GM").narrow(ref).narrow(info).wide(text)
            .u32(uint32_t(l)).u32(uint32_t(t)).u32(uint32_t(r)).u32(uint32_t(b));
    }

    const std::string& str() const { return bytes_; }
    std::istringstream stream() const
    {
        return std::istringstream(bytes_, std::ios::in | std::ios::binary);
    }

private:
    std::string bytes_;
};
