// serial_queue.h - a port's input queue and the arrival times of the bytes in it.
//
// The queue is a fixed ring of the size OpenComConfig was given; a push
// takes what fits and says how much. The stamps run in step with it, one run
// per batch of bytes read together, so a read can tell when the first and the
// last byte of what it takes arrived.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

namespace qvar::serial {

class Ring {
public:
    explicit Ring(size_t capacity) : buf_(capacity) {}
    size_t size() const { return size_; }
    size_t capacity() const { return buf_.size(); }
    size_t space() const { return buf_.size() - size_; }
    void clear() { head_ = size_ = 0; }

    size_t push(const uint8_t *p, size_t n)
    {
        n = std::min(n, space());
        size_t tail = (head_ + size_) % buf_.size();
        size_t first = std::min(n, buf_.size() - tail);
        std::memcpy(buf_.data() + tail, p, first);
        std::memcpy(buf_.data(), p + first, n - first);
        size_ += n;
        return n;
    }

    // Copies the first n bytes (at most size()) without taking them.
    size_t peek(uint8_t *out, size_t n) const
    {
        n = std::min(n, size_);
        size_t first = std::min(n, buf_.size() - head_);
        std::memcpy(out, buf_.data() + head_, first);
        std::memcpy(out + first, buf_.data(), n - first);
        return n;
    }

    size_t pop(uint8_t *out, size_t n)
    {
        return drop(peek(out, n));
    }

    size_t drop(size_t n)
    {
        n = std::min(n, size_);
        head_ = (head_ + n) % buf_.size();
        size_ -= n;
        return n;
    }

private:
    std::vector<uint8_t> buf_;
    size_t head_ = 0;
    size_t size_ = 0;
};

// Arrival times of the queued bytes, as runs of bytes that share one stamp,
// kept in step with the Ring.
class Stamps {
public:
    void clear() { runs_.clear(); }
    void push(size_t n, double at)
    {
        if (!runs_.empty() && runs_.back().at == at)
            runs_.back().n += n;
        else if (n > 0)
            runs_.push_back({n, at});
    }
    // Drops the stamps of the first n bytes; gives the first and last of them.
    void pop(size_t n, double *first, double *last)
    {
        bool any = false;
        while (n > 0 && !runs_.empty()) {
            Run &r = runs_.front();
            if (!any)
                *first = r.at;
            any = true;
            *last = r.at;
            const size_t take = std::min(n, r.n);
            r.n -= take;
            n -= take;
            if (r.n == 0)
                runs_.pop_front();
        }
    }

    // How many of the queued bytes, from the first on, arrived before `t`.
    size_t before(double t) const
    {
        size_t n = 0;
        for (const Run &r : runs_) {
            if (r.at >= t)
                break;
            n += r.n;
        }
        return n;
    }

private:
    struct Run { size_t n; double at; };
    std::deque<Run> runs_;
};

} // namespace qvar::serial
