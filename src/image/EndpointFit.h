#pragma once
// Line fitting shared by the BC6H and BC7 encoders: the principal axis of a set of points, the
// segment of it that covers them, and the least-squares endpoints for fixed weights.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace kestrel::image {

using Point4 = std::array<float, 4>;

struct Segment {
    Point4 start{};
    Point4 end{};
};

// The segment along the points' principal axis (found by power iteration on the covariance)
// between the outermost projections, over the first `channels` coordinates.
inline Segment PrincipalSegment(const Point4* points, uint32_t count, uint32_t channels) {
    Segment segment;
    if (count == 0) return segment;
    Point4 mean{};
    for (uint32_t i = 0; i < count; ++i)
        for (uint32_t c = 0; c < channels; ++c)
            mean[c] += points[i][c] / static_cast<float>(count);
    std::array<std::array<float, 4>, 4> cov{};
    for (uint32_t i = 0; i < count; ++i)
        for (uint32_t a = 0; a < channels; ++a)
            for (uint32_t b = 0; b < channels; ++b)
                cov[a][b] += (points[i][a] - mean[a]) * (points[i][b] - mean[b]);
    Point4 axis{1.0f, 1.0f, 1.0f, 1.0f};
    for (int iteration = 0; iteration < 8; ++iteration) {
        Point4 next{};
        float length = 0.0f;
        for (uint32_t a = 0; a < channels; ++a) {
            for (uint32_t b = 0; b < channels; ++b)
                next[a] += cov[a][b] * axis[b];
            length += next[a] * next[a];
        }
        if (length < 1e-12f) break;
        length = std::sqrt(length);
        for (uint32_t a = 0; a < channels; ++a)
            axis[a] = next[a] / length;
    }
    float low = 0.0f, high = 0.0f;
    for (uint32_t i = 0; i < count; ++i) {
        float t = 0.0f;
        for (uint32_t c = 0; c < channels; ++c)
            t += (points[i][c] - mean[c]) * axis[c];
        low = std::min(low, t);
        high = std::max(high, t);
    }
    for (uint32_t c = 0; c < channels; ++c) {
        segment.start[c] = mean[c] + low * axis[c];
        segment.end[c] = mean[c] + high * axis[c];
    }
    return segment;
}

// The endpoints that minimise the squared error of points[i] ~ (1 - w[i]) start + w[i] end.
// Returns false (and leaves the segment alone) when the weights do not determine them.
inline bool LeastSquaresSegment(const Point4* points, const float* weights, uint32_t count,
                                uint32_t channels, Segment& segment) {
    float a11 = 0, a12 = 0, a22 = 0;
    Point4 r1{}, r2{};
    for (uint32_t i = 0; i < count; ++i) {
        const float w = weights[i], v = 1.0f - w;
        a11 += v * v;
        a12 += v * w;
        a22 += w * w;
        for (uint32_t c = 0; c < channels; ++c) {
            r1[c] += v * points[i][c];
            r2[c] += w * points[i][c];
        }
    }
    const float det = a11 * a22 - a12 * a12;
    if (std::fabs(det) < 1e-6f) return false;
    for (uint32_t c = 0; c < channels; ++c) {
        segment.start[c] = (a22 * r1[c] - a12 * r2[c]) / det;
        segment.end[c] = (a11 * r2[c] - a12 * r1[c]) / det;
    }
    return true;
}

} // namespace kestrel::image
