// A container that lines its visible children up along one axis.
//
// Orientation (setOrientation):
//   0 LeftToRight   children side by side, main axis horizontal
//   1 TopToBottom   children one below the other (the default)
//
// Distribution (setDistribution), along the main axis:
//   0 Start         packed at the start, spacing between them
//   1 Center        packed in the middle
//   2 End           packed at the end
//   3 SpaceBetween  first at the start, last at the end, free space shared
//                   between the gaps
//   4 SpaceAround   free space shared equally around every child (half gaps
//                   at both ends)
//   5 SpaceEvenly   free space shared equally by all gaps, ends included
//   6 Fill          children grow (or shrink) from their preferred sizes to
//                   share the whole space, each within its min/max size; what
//                   one child cannot take goes to the others
// Each child's main size is its preferred size clamped to its min/max size,
// except with Fill. When the children do not fit, the spread distributions
// (3, 4, 5) pack at the start.
//
// Alignment (setAlignment), across the main axis:
//   0 Start     at the top (horizontal stack) or left (vertical stack)
//   1 Center    centred
//   2 End       at the bottom or right
//   3 Stretch   as large as the stack's inner size, within the child's min/max
// With 0-2 the child's cross size is its preferred size clamped.
//
// Padding is kept free inside the stack's edges (Vec4: left, top, right,
// bottom); spacing is added between neighbouring children. A stack without
// a preferred size prefers the size of its packed content.
#pragma once

#include "vemo/ui/Widget.h"

namespace vemo::ui {

class Stack : public Widget {
public:
    enum class Orientation : int { LeftToRight = 0, TopToBottom = 1 };
    enum class Distribution : int {
        Start = 0,
        Center = 1,
        End = 2,
        SpaceBetween = 3,
        SpaceAround = 4,
        SpaceEvenly = 5,
        Fill = 6,
    };
    enum class Alignment : int { Start = 0, Center = 1, End = 2, Stretch = 3 };

    explicit Stack(Widget* parent);

    void setOrientation(Orientation orientation);
    // Throws std::invalid_argument for values other than those listed above.
    void setOrientation(int orientation);
    Orientation getOrientation() const { return orientation_; }
    void setDistribution(Distribution distribution);
    void setDistribution(int distribution);
    Distribution getDistribution() const { return distribution_; }
    void setAlignment(Alignment alignment);
    void setAlignment(int alignment);
    Alignment getAlignment() const { return alignment_; }
    void setPadding(Vec4 padding);
    Vec4 getPadding() const { return padding_; }
    void setSpacing(float spacing);
    float getSpacing() const { return spacing_; }

protected:
    void layoutChildren() override;
    Vec2 contentSize() const override;

private:
    Orientation orientation_ = Orientation::TopToBottom;
    Distribution distribution_ = Distribution::Start;
    Alignment alignment_ = Alignment::Start;
    Vec4 padding_;
    float spacing_ = 0.0f;
};

}  // namespace vemo::ui
