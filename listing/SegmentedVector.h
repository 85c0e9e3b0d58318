#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <memory>
#include <type_traits>
#include <vector>

namespace treelan {

// A sequence kept in segments of a fixed number of elements that never move: growing it never
// copies what it holds (a vector of a hundred MiB doubling holds its thread up for a tenth of a
// second), and freeing it gives the C library back a few large blocks. (A deque gives back one
// 512-byte block per eight rows: a million rows leave 125,000 of them for the next allocation of
// the thread that made them to sort through, tens of milliseconds on the interface thread.)
// For trivially copyable elements.
template <typename T, std::size_t SegmentSize = 8192> class SegmentedVector {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    template <bool Const> class Iterator {
        using Owner = std::conditional_t<Const, const SegmentedVector, SegmentedVector>;

    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = std::conditional_t<Const, const T*, T*>;
        using reference = std::conditional_t<Const, const T&, T&>;

        Iterator() = default;
        Iterator(Owner* owner, std::size_t at) : m_owner(owner), m_at(at) {}
        reference operator*() const { return (*m_owner)[m_at]; }
        pointer operator->() const { return &(*m_owner)[m_at]; }
        reference operator[](difference_type n) const { return *(*this + n); }
        Iterator& operator++() { return ++m_at, *this; }
        Iterator operator++(int) { return {m_owner, m_at++}; }
        Iterator& operator--() { return --m_at, *this; }
        Iterator operator--(int) { return {m_owner, m_at--}; }
        Iterator& operator+=(difference_type n) {
            return m_at = std::size_t(difference_type(m_at) + n), *this;
        }
        Iterator& operator-=(difference_type n) { return *this += -n; }
        friend Iterator operator+(Iterator i, difference_type n) { return i += n; }
        friend Iterator operator+(difference_type n, Iterator i) { return i += n; }
        friend Iterator operator-(Iterator i, difference_type n) { return i -= n; }
        friend difference_type operator-(const Iterator& a, const Iterator& b) {
            return difference_type(a.m_at) - difference_type(b.m_at);
        }
        friend bool operator==(const Iterator& a, const Iterator& b) { return a.m_at == b.m_at; }
        friend auto operator<=>(const Iterator& a, const Iterator& b) { return a.m_at <=> b.m_at; }

    private:
        Owner* m_owner = nullptr;
        std::size_t m_at = 0;
    };
    using iterator = Iterator<false>;
    using const_iterator = Iterator<true>;

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    T& operator[](std::size_t i) { return m_segments[i / SegmentSize][i % SegmentSize]; }
    const T& operator[](std::size_t i) const {
        return m_segments[i / SegmentSize][i % SegmentSize];
    }
    iterator begin() { return {this, 0}; }
    iterator end() { return {this, m_size}; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, m_size}; }

    void push_back(const T& value) {
        if (m_size == m_segments.size() * SegmentSize)
            m_segments.push_back(std::make_unique_for_overwrite<T[]>(SegmentSize));
        (*this)[m_size++] = value;
    }
    // Grows with value-initialised elements or drops the last ones.
    void resize(std::size_t n) {
        while (m_size < n)
            push_back(T{});
        m_size = n;
    }
    // Removes [first, last), moving the elements after it down.
    void erase(std::size_t first, std::size_t last) {
        std::copy(begin() + std::ptrdiff_t(last), end(), begin() + std::ptrdiff_t(first));
        m_size -= last - first;
    }
    // Puts `value` before element `at`, moving the elements from there up.
    void insert(std::size_t at, const T& value) {
        push_back(value);
        std::rotate(begin() + std::ptrdiff_t(at), end() - 1, end());
    }
    void clear() { m_size = 0; }
    // Frees the segments beyond the elements held.
    void shrink_to_fit() {
        m_segments.resize((m_size + SegmentSize - 1) / SegmentSize);
        m_segments.shrink_to_fit();
    }
    static constexpr std::size_t kSegmentSize = SegmentSize;
    // Where each segment starts: a reader on another thread finds the elements that were there
    // when it took them while more are pushed (segments never move).
    std::vector<const T*> segmentStarts() const {
        std::vector<const T*> starts;
        starts.reserve(m_segments.size());
        for (const auto& segment : m_segments)
            starts.push_back(segment.get());
        return starts;
    }
    void swap(SegmentedVector& other) noexcept {
        m_segments.swap(other.m_segments);
        std::swap(m_size, other.m_size);
    }

private:
    std::vector<std::unique_ptr<T[]>> m_segments;
    std::size_t m_size = 0;
};

} // namespace treelan
