#include "TalverinPill/PillTrack.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace talverin {
namespace PillMotionMath {

namespace {

// Each coordinate of a cubic Bezier from 0 to 1 with control points p1 and p2.
double bezier(double p1, double p2, double t) {
    const double u = 1 - t;
    return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
}

double bezierSlope(double p1, double p2, double t) {
    const double u = 1 - t;
    return 3 * u * u * p1 + 6 * u * t * (p2 - p1) + 3 * t * t * (1 - p2);
}

} // namespace

double ease(const ThemeTokens::Curve& curve, double progress) {
    const double x = std::clamp(progress, 0.0, 1.0);
    if (x == 0 || x == 1)
        return x;
    // Newton's method finds the curve's parameter for x quickly where the slope allows; the
    // bisection behind it always ends, also on the flat stretches of steep curves.
    double t = x;
    for (int i = 0; i < 8; ++i) {
        const double error = bezier(curve.x1, curve.x2, t) - x;
        if (std::abs(error) < 1e-9)
            return bezier(curve.y1, curve.y2, t);
        const double slope = bezierSlope(curve.x1, curve.x2, t);
        if (std::abs(slope) < 1e-6)
            break;
        t -= error / slope;
        if (t < 0 || t > 1)
            break;
    }
    double low = 0, high = 1;
    t = x;
    for (int i = 0; i < 60; ++i) {
        const double at = bezier(curve.x1, curve.x2, t);
        if (std::abs(at - x) < 1e-9)
            break;
        (at < x ? low : high) = t;
        t = (low + high) / 2;
    }
    return bezier(curve.y1, curve.y2, t);
}

Deviation spring(const PillMetrics::Spring& spring, double d0, double v0, double t) {
    const double omega = 2 * std::numbers::pi / spring.response;
    const double zeta = spring.dampingFraction;
    if (zeta < 1) {
        const double omegaD = omega * std::sqrt(1 - zeta * zeta);
        const double decay = std::exp(-zeta * omega * t);
        const double a = d0, b = (v0 + zeta * omega * d0) / omegaD;
        const double c = std::cos(omegaD * t), s = std::sin(omegaD * t);
        return {decay * (a * c + b * s), decay * ((b * omegaD - zeta * omega * a) * c -
                                                  (a * omegaD + zeta * omega * b) * s)};
    }
    if (zeta == 1) {
        const double decay = std::exp(-omega * t);
        const double b = v0 + omega * d0;
        return {decay * (d0 + b * t), decay * (b - omega * (d0 + b * t))};
    }
    const double s = std::sqrt(zeta * zeta - 1);
    const double r1 = -omega * (zeta - s), r2 = -omega * (zeta + s);
    const double c2 = (v0 - r1 * d0) / (r2 - r1), c1 = d0 - c2;
    const double e1 = std::exp(r1 * t), e2 = std::exp(r2 * t);
    return {c1 * e1 + c2 * e2, c1 * r1 * e1 + c2 * r2 * e2};
}

double settleTime(const PillMetrics::Spring& spring, double d0, double v0) {
    const double scale = std::max(std::abs(d0), std::abs(v0) * spring.response);
    if (scale == 0)
        return 0;
    int lastMoving = 0;
    for (int i = 0; i <= 3000; ++i) {
        const Deviation at = PillMotionMath::spring(spring, d0, v0, i / 1000.0);
        if (std::abs(at.v) >= 0.05 * scale || std::abs(at.d) >= 0.001 * scale)
            lastMoving = i;
    }
    // Integers, so that no rounding of a double lands a step early or late.
    return (lastMoving + 10) / 10 * 10 / 1000.0;
}

} // namespace PillMotionMath

template <std::size_t N> typename PillTrack<N>::Value PillTrack<N>::value(double now) const {
    if (!m_how || now >= m_end)
        return m_to;
    const double elapsed = now - m_start - m_how->delay;
    if (elapsed <= 0)
        return m_from;
    Value out;
    if (m_how->type == PillAnim::Animation::Type::curve) {
        const double p = PillMotionMath::ease(m_how->curve, elapsed / m_how->duration);
        for (std::size_t i = 0; i < N; ++i)
            out[i] = m_from[i] + (m_to[i] - m_from[i]) * p;
        return out;
    }
    for (std::size_t i = 0; i < N; ++i)
        out[i] =
            m_to[i] +
            PillMotionMath::spring(m_how->spring, m_from[i] - m_to[i], m_velocity[i], elapsed).d;
    return out;
}

template <std::size_t N> typename PillTrack<N>::Value PillTrack<N>::velocity(double now) const {
    Value out{};
    if (!m_how || now >= m_end)
        return out;
    const double elapsed = now - m_start - m_how->delay;
    if (elapsed <= 0)
        return m_how->type == PillAnim::Animation::Type::spring ? m_velocity : out;
    if (m_how->type == PillAnim::Animation::Type::curve) {
        // A curve is only ever left by a fade or colour change; its slope matters little, so
        // a short difference is enough.
        const double h = 1e-4;
        const Value a = value(now - h), b = value(now);
        for (std::size_t i = 0; i < N; ++i)
            out[i] = (b[i] - a[i]) / h;
        return out;
    }
    for (std::size_t i = 0; i < N; ++i)
        out[i] =
            PillMotionMath::spring(m_how->spring, m_from[i] - m_to[i], m_velocity[i], elapsed).v;
    return out;
}

template <std::size_t N>
void PillTrack<N>::retarget(const Value& target, const std::optional<PillAnim::Animation>& how,
                            double now) {
    if (target == m_to)
        return;
    if (!how) {
        jump(target);
        return;
    }
    const Value from = value(now);
    const Value speed = velocity(now);
    m_from = from;
    m_velocity = how->type == PillAnim::Animation::Type::spring ? speed : Value{};
    m_to = target;
    m_start = now;
    m_how = how;
    double length = 0;
    if (how->type == PillAnim::Animation::Type::curve) {
        length = how->duration;
    } else {
        for (std::size_t i = 0; i < N; ++i)
            length = std::max(length, PillMotionMath::settleTime(how->spring, m_from[i] - m_to[i],
                                                                 m_velocity[i]));
    }
    m_end = now + how->delay + length;
}

template <std::size_t N> void PillTrack<N>::jump(const Value& value) {
    m_from = value;
    m_to = value;
    m_velocity = {};
    m_how.reset();
    m_end = 0;
}

template class PillTrack<1>;
template class PillTrack<2>;
template class PillTrack<5>;

} // namespace talverin
