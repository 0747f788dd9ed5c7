#include "playback/output_layout.h"

#include <algorithm>
#include <cmath>

namespace korvel {

namespace {

// Single precision on purpose: the wrap and the bracket search are defined
// on these exact values.
constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kFallbackGain = 0.70710677f;

using R = ChannelRole;

struct RoleDirection {
    bool positional = false;
    float azimuth = 0.0f;
    bool height = false;
};

RoleDirection DirectionOf(ChannelRole role) {
    switch (role) {
        case R::L: return {true, 0.5235988f, false};
        case R::R: return {true, -0.5235988f, false};
        case R::C: return {true, 0.0f, false};
        case R::Ls: return {true, 1.9198622f, false};
        case R::Rs: return {true, -1.9198622f, false};
        case R::Lrs: return {true, 2.6179938f, false};
        case R::Rrs: return {true, -2.6179938f, false};
        case R::Ltf: return {true, 0.7853982f, true};
        case R::Rtf: return {true, -0.7853982f, true};
        case R::Ltr: return {true, 2.3561945f, true};
        case R::Rtr: return {true, -2.3561945f, true};
        default: return {};
    }
}

bool IsHeightRole(ChannelRole role) {
    return role == R::Ltf || role == R::Rtf || role == R::Ltr || role == R::Rtr;
}

// Into −π..π. A non-finite angle is returned as it is; the callers skip it.
// Huge finite angles are reduced first so that the stepping loop stays short.
float WrapAngle(float d) {
    if (!std::isfinite(d)) return d;
    if (std::fabs(d) > 64.0f * kPi) d = std::remainder(d, kTwoPi);
    while (d > kPi) d -= kTwoPi;
    while (d < -kPi) d += kTwoPi;
    return d;
}

int FindRole(const OutputLayout& layout, ChannelRole role) {
    for (std::size_t j = 0; j < layout.roles.size(); ++j)
        if (layout.roles[j] == role) return static_cast<int>(j);
    return -1;
}

std::vector<ChannelRole> FallbackList(ChannelRole role) {
    switch (role) {
        case R::Ls: return {R::L};
        case R::Rs: return {R::R};
        case R::Lrs: return {R::Ls, R::L};
        case R::Rrs: return {R::Rs, R::R};
        case R::Ltf: return {R::L};
        case R::Rtf: return {R::R};
        case R::Ltr: return {R::Lrs, R::Ls, R::L};
        case R::Rtr: return {R::Rrs, R::Rs, R::R};
        default: return {R::L, R::R};
    }
}

}  // namespace

OutputLayout GetOutputLayout(int index) {
    switch (index) {
        case 1: return {"5.1", 63, {R::L, R::R, R::C, R::LFE, R::Ls, R::Rs}, false, true};
        case 2:
            return {"7.1.4",
                    0,
                    {R::L, R::R, R::C, R::LFE, R::Ls, R::Rs, R::Lrs, R::Rrs, R::Ltf, R::Rtf, R::Ltr, R::Rtr},
                    false,
                    false};
        case 3: return {"AmbiX", 0, {R::None, R::None, R::None, R::None}, true, true};
        default: return {};
    }
}

std::vector<float> ChannelRoleGains(ChannelRole role, const OutputLayout& layout) {
    std::vector<float> gains(layout.roles.size(), 0.0f);
    const int own = FindRole(layout, role);
    if (own >= 0) {
        gains[static_cast<std::size_t>(own)] = 1.0f;
        return gains;
    }
    if (role == R::LFE) return gains;
    if (role == R::C || role == R::None) {
        for (ChannelRole side : {R::L, R::R}) {
            const int j = FindRole(layout, side);
            if (j >= 0) gains[static_cast<std::size_t>(j)] = kFallbackGain;
        }
        return gains;
    }
    for (ChannelRole candidate : FallbackList(role)) {
        const int j = FindRole(layout, candidate);
        if (j >= 0) {
            gains[static_cast<std::size_t>(j)] = kFallbackGain;
            break;
        }
    }
    return gains;
}

void PanToSpeakerAngles(float az, const OutputLayout& layout, bool heightTier, float g, std::vector<float>& gains) {
    if (!(g > 0.000001f) || !std::isfinite(az)) return;
    int upper = -1, lower = -1;
    float upperD = 0.0f, lowerD = 0.0f;
    const std::size_t count = std::min(layout.roles.size(), gains.size());
    for (std::size_t j = 0; j < count; ++j) {
        const RoleDirection dir = DirectionOf(layout.roles[j]);
        if (!dir.positional || dir.height != heightTier) continue;
        const float d = WrapAngle(dir.azimuth - az);
        if (d >= 0.0f) {
            if (upper < 0 || d < upperD) upper = static_cast<int>(j), upperD = d;
        } else if (lower < 0 || d > lowerD) {
            lower = static_cast<int>(j), lowerD = d;
        }
    }
    if (upper >= 0 && lower >= 0) {
        const float upperAz = DirectionOf(layout.roles[static_cast<std::size_t>(upper)]).azimuth;
        const float lowerAz = DirectionOf(layout.roles[static_cast<std::size_t>(lower)]).azimuth;
        const float span = WrapAngle(upperAz - lowerAz);
        float t = 0.5f;
        if (std::fabs(span) > 0.000001f) t = std::clamp(WrapAngle(az - lowerAz) / span, 0.0f, 1.0f);
        const float a = t * kHalfPi;
        gains[static_cast<std::size_t>(lower)] += std::cos(a) * g;
        gains[static_cast<std::size_t>(upper)] += std::sin(a) * g;
    } else if (upper >= 0) {
        gains[static_cast<std::size_t>(upper)] += g;
    } else if (lower >= 0) {
        gains[static_cast<std::size_t>(lower)] += g;
    }
}

std::vector<float> PanSourceSpatial(float az, float el, const OutputLayout& layout) {
    std::vector<float> gains(layout.roles.size(), 0.0f);
    bool hasHeight = false;
    for (ChannelRole role : layout.roles) hasHeight = hasHeight || IsHeightRole(role);
    float ear = 1.0f, height = 0.0f;
    if (hasHeight) {
        // NaN elevation counts as ear level.
        const float e = std::isnan(el) ? 0.0f : std::clamp(el, 0.0f, kHalfPi);
        ear = std::cos(e);
        height = std::sin(e);
    }
    PanToSpeakerAngles(az, layout, false, ear, gains);
    PanToSpeakerAngles(az, layout, true, height, gains);
    return gains;
}

AmbiXGains AmbiXDirectionGains(float az, float el) {
    const float c = std::cos(el);
    return {1.0f, std::sin(az) * c, std::sin(el), std::cos(az) * c};
}

void EncodeAmbiXByRole(int channelCount, bool pairFlag, const std::vector<ChannelRole>& roles,
                       std::vector<AmbiXGains>& gains) {
    if (channelCount < 1 || gains.empty()) return;
    if (channelCount == 1) {
        gains[0] = {1.0f, 0.0f, 0.0f, 1.0f};
        return;
    }
    if (pairFlag) {
        gains[0] = AmbiXDirectionGains(DirectionOf(R::L).azimuth, 0.0f);
        if (gains.size() > 1) gains[1] = AmbiXDirectionGains(DirectionOf(R::R).azimuth, 0.0f);
        return;
    }
    const std::size_t count = std::min({static_cast<std::size_t>(channelCount), roles.size(), gains.size()});
    for (std::size_t i = 0; i < count; ++i) {
        const ChannelRole role = roles[i];
        const RoleDirection dir = DirectionOf(role);
        if (dir.positional && !dir.height) {
            gains[i] = {1.0f, std::sin(dir.azimuth), 0.0f, std::cos(dir.azimuth)};
        } else {
            gains[i][0] = 1.0f;
        }
    }
}

}  // namespace korvel
