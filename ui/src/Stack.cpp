// Stack layout: children along one axis with distribution and alignment.

#include "vemo/ui/Stack.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace vemo::ui {
namespace {

float clampf(float v, float lo, float hi) { return std::max(lo, std::min(v, hi)); }

// Grows or shrinks sizes (starting from the preferred sizes) until they add
// up to target, each staying within [mins[i], maxs[i]]. What a child at its
// limit cannot take is shared by the others in the next round.
void fillSpace(std::vector<float>& sizes, const std::vector<float>& mins, const std::vector<float>& maxs,
               float target) {
    std::vector<bool> frozen(sizes.size(), false);
    for (std::size_t round = 0; round <= sizes.size(); ++round) {
        float sum = 0.0f;
        for (float s : sizes) sum += s;
        const float diff = target - sum;
        if (std::fabs(diff) < 0.001f) return;
        std::size_t flexible = 0;
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            if (frozen[i]) continue;
            if (diff > 0 ? sizes[i] < maxs[i] : sizes[i] > mins[i]) {
                ++flexible;
            } else {
                frozen[i] = true;
            }
        }
        if (flexible == 0) return;
        const float share = diff / static_cast<float>(flexible);
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            if (frozen[i]) continue;
            const float wanted = sizes[i] + share;
            if (wanted >= maxs[i]) {
                sizes[i] = maxs[i];
                frozen[i] = diff > 0;
            } else if (wanted <= mins[i]) {
                sizes[i] = mins[i];
                frozen[i] = diff < 0;
            } else {
                sizes[i] = wanted;
            }
        }
    }
}

}  // namespace

Stack::Stack(Widget* parent) : Widget(parent) {}

void Stack::setOrientation(Orientation orientation) {
    orientation_ = orientation;
    invalidateLayout();
}

void Stack::setOrientation(int orientation) {
    if (orientation < 0 || orientation > 1) {
        throw std::invalid_argument("Stack orientation " + std::to_string(orientation) + " is not 0 or 1");
    }
    setOrientation(static_cast<Orientation>(orientation));
}

void Stack::setDistribution(Distribution distribution) {
    distribution_ = distribution;
    invalidateLayout();
}

void Stack::setDistribution(int distribution) {
    if (distribution < 0 || distribution > 6) {
        throw std::invalid_argument("Stack distribution " + std::to_string(distribution) + " is not in 0..6");
    }
    setDistribution(static_cast<Distribution>(distribution));
}

void Stack::setAlignment(Alignment alignment) {
    alignment_ = alignment;
    invalidateLayout();
}

void Stack::setAlignment(int alignment) {
    if (alignment < 0 || alignment > 3) {
        throw std::invalid_argument("Stack alignment " + std::to_string(alignment) + " is not in 0..3");
    }
    setAlignment(static_cast<Alignment>(alignment));
}

void Stack::setPadding(Vec4 padding) {
    padding_ = padding;
    invalidateLayout();
}

void Stack::setSpacing(float spacing) {
    spacing_ = spacing;
    invalidateLayout();
}

Vec2 Stack::contentSize() const {
    const bool horizontal = orientation_ == Orientation::LeftToRight;
    float mainSum = 0.0f;
    float crossMax = 0.0f;
    int count = 0;
    for (const Widget* child : getChildren()) {
        if (!child->isVisible()) continue;
        const Vec2 size = child->clampSize(child->getPreferredSize());
        mainSum += horizontal ? size.x : size.y;
        crossMax = std::max(crossMax, horizontal ? size.y : size.x);
        ++count;
    }
    if (count > 1) mainSum += spacing_ * static_cast<float>(count - 1);
    const float padX = padding_.x + padding_.z;
    const float padY = padding_.y + padding_.w;
    return horizontal ? Vec2{mainSum + padX, crossMax + padY} : Vec2{crossMax + padX, mainSum + padY};
}

void Stack::layoutChildren() {
    const bool horizontal = orientation_ == Orientation::LeftToRight;
    auto mainOf = [horizontal](Vec2 v) { return horizontal ? v.x : v.y; };
    auto crossOf = [horizontal](Vec2 v) { return horizontal ? v.y : v.x; };

    const Vec2 size = getActualSize();
    const float innerMain =
        std::max(0.0f, horizontal ? size.x - padding_.x - padding_.z : size.y - padding_.y - padding_.w);
    const float innerCross =
        std::max(0.0f, horizontal ? size.y - padding_.y - padding_.w : size.x - padding_.x - padding_.z);
    const float startMain = horizontal ? padding_.x : padding_.y;
    const float startCross = horizontal ? padding_.y : padding_.x;

    std::vector<Widget*> visible;
    for (Widget* child : getChildren()) {
        if (child->isVisible()) {
            visible.push_back(child);
        } else {
            assignSize(child, child->clampSize(child->getPreferredSize()));
        }
    }
    const std::size_t n = visible.size();
    if (n == 0) return;

    std::vector<float> mains(n), crosses(n), mins(n), maxs(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Widget* c = visible[i];
        const Vec2 preferred = c->getPreferredSize();
        const Vec2 mn = c->getMinSize();
        const Vec2 mx = c->getMaxSize();
        mins[i] = mainOf(mn);
        maxs[i] = std::max(mainOf(mn), mainOf(mx));
        mains[i] = clampf(mainOf(preferred), mins[i], maxs[i]);
        const float crossMin = crossOf(mn);
        const float crossMax = std::max(crossMin, crossOf(mx));
        crosses[i] = clampf(alignment_ == Alignment::Stretch ? innerCross : crossOf(preferred), crossMin, crossMax);
    }

    const float spacingTotal = spacing_ * static_cast<float>(n - 1);
    if (distribution_ == Distribution::Fill) fillSpace(mains, mins, maxs, innerMain - spacingTotal);

    float used = spacingTotal;
    for (float m : mains) used += m;
    const float freeSpace = innerMain - used;
    float lead = 0.0f;
    float gap = spacing_;
    switch (distribution_) {
        case Distribution::Start:
        case Distribution::Fill: break;
        case Distribution::Center: lead = freeSpace / 2.0f; break;
        case Distribution::End: lead = freeSpace; break;
        case Distribution::SpaceBetween:
            if (freeSpace > 0.0f && n > 1) gap += freeSpace / static_cast<float>(n - 1);
            break;
        case Distribution::SpaceAround:
            if (freeSpace > 0.0f) {
                gap += freeSpace / static_cast<float>(n);
                lead = freeSpace / static_cast<float>(n) / 2.0f;
            }
            break;
        case Distribution::SpaceEvenly:
            if (freeSpace > 0.0f) {
                gap += freeSpace / static_cast<float>(n + 1);
                lead = freeSpace / static_cast<float>(n + 1);
            }
            break;
    }

    float position = startMain + lead;
    for (std::size_t i = 0; i < n; ++i) {
        float cross = startCross;
        if (alignment_ == Alignment::Center) cross += (innerCross - crosses[i]) / 2.0f;
        if (alignment_ == Alignment::End) cross += innerCross - crosses[i];
        Widget* c = visible[i];
        assignSize(c, horizontal ? Vec2{mains[i], crosses[i]} : Vec2{crosses[i], mains[i]});
        assignPosition(c, horizontal ? Vec2{position, cross} : Vec2{cross, position});
        position += mains[i] + gap;
    }
}

}  // namespace vemo::ui
