#pragma once

// An iconv(3) conversion descriptor, owned.

#include <errno.h>
#include <iconv.h>

#include <cstddef>
#include <new>

namespace orva {

class Iconv {
  public:
    Iconv() = default;
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    ~Iconv() { close(); }

    // Opens to -> from; false when the system lacks either code set.
    bool open(const char* to, const char* from) {
        close();
        cd_ = iconv_open(to, from);
        if (cd_ == invalid()) {
            if (errno == ENOMEM) {
                throw std::bad_alloc();
            }
            return false;
        }
        return true;
    }

    bool isOpen() const { return cd_ != invalid(); }

    // Back to the initial shift state, so nothing of a previous call carries over.
    void reset() { ::iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

    // One iconv(3) call; 0 or the errno it stopped with.
    int convert(const char*& in, std::size_t& inLeft, char*& out, std::size_t& outLeft) {
        // iconv never writes through its input pointer; the cast only fits its signature.
        char* src = const_cast<char*>(in);
        const std::size_t r = ::iconv(cd_, &src, &inLeft, &out, &outLeft);
        const int error = r == static_cast<std::size_t>(-1) ? errno : 0;
        in = src;
        return error;
    }

    // Writes what returns the output to the initial shift state; 0 or the
    // errno it stopped with.
    int finish(char*& out, std::size_t& outLeft) {
        const std::size_t r = ::iconv(cd_, nullptr, nullptr, &out, &outLeft);
        return r == static_cast<std::size_t>(-1) ? errno : 0;
    }

  private:
    // iconv_open's failure value, (iconv_t)-1.
    static iconv_t invalid() noexcept { return reinterpret_cast<iconv_t>(-1); }

    void close() noexcept {
        if (cd_ != invalid()) {
            iconv_close(cd_);
            cd_ = invalid();
        }
    }

    iconv_t cd_ = invalid();
};

}  // namespace orva
