// The base of every element of a window. Widgets form a tree: each widget is
// created with its parent, which owns it and destroys it (children in reverse
// order of creation) when it is destroyed itself. Create children with new:
//     auto* stack = new vemo::ui::Stack(parent);   // owned by parent
// Deleting a widget directly also removes it from its parent.
//
// Geometry. The position is the top-left corner relative to the parent's
// top-left (containers such as Stack set their children's positions). The
// origin is the pivot of the rotation relative to the top-left; it does not
// move the widget. Rotation is in degrees, clockwise, and applies to the
// widget's own drawing; world positions of children are not rotated, world
// angles add up.
//
// Sizes. A widget's actual size is set by its parent's layout: plain widgets
// give each child its preferred size clamped to its min/max sizes, Stack
// distributes its space, ScrollView gives its children their preferred size.
// The layout runs every frame before update and before draw; resized() is
// called whenever the actual size has changed since the last call.
//
// All widget operations belong to the UI thread.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "vemo/ui/Math.h"

namespace vemo::ui {

class Renderer;
class Window;

// What a widget learns about the window it lives in.
struct WindowContext {
    Window* window = nullptr;
    Renderer* renderer = nullptr;
    // Time between the start of the previous frame and this one, in microseconds
    // (0 in the first frame).
    std::uint64_t frameTime = 0;
    // Number of the current frame, counted from 0.
    std::uint64_t frameNumber = 0;
};

enum class MouseButton : std::uint8_t { Left = 1, Middle = 2, Right = 3 };

struct MouseButtonEvent {
    Vec2 position;  // window coordinates
    MouseButton button = MouseButton::Left;
    bool pressed = false;  // true: down, false: up
    int clicks = 1;
};

struct KeyEvent {
    int scancode = 0;             // SDL_Scancode
    int keycode = 0;              // SDL_Keycode
    std::uint16_t modifiers = 0;  // SDL_Keymod bits
    bool pressed = false;
    bool repeat = false;
};

// The largest finite float: a max size component with this value is unbounded.
inline constexpr float kUnbounded = std::numeric_limits<float>::max();

class Widget {
public:
    // parent may be null only for a window's root widget.
    explicit Widget(Widget* parent);
    virtual ~Widget();
    Widget(const Widget&) = delete;
    Widget& operator=(const Widget&) = delete;

    Widget* getParent() const { return parent_; }
    const std::vector<Widget*>& getChildren() const { return children_; }

    void setPosition(Vec2 position);
    Vec2 getPosition() const { return position_; }
    void setOrigin(Vec2 origin) { origin_ = origin; }
    Vec2 getOrigin() const { return origin_; }
    void setRotation(float degrees) { rotation_ = degrees; }
    float getRotation() const { return rotation_; }
    void setVisible(bool visible);
    bool isVisible() const { return visible_; }

    void setMinSize(Vec2 size);
    Vec2 getMinSize() const { return minSize_; }
    // kUnbounded (the largest finite float) in a component means no limit.
    void setMaxSize(Vec2 size);
    Vec2 getMaxSize() const { return maxSize_; }
    // Also sets the actual size right away (clamped), so that a widget that is
    // not in a layout container has its size before the next frame.
    void setPreferredSize(Vec2 size);
    // The preferred size given with setPreferredSize, or, if none was given,
    // the size of the content (text extent, a stack's packed children).
    Vec2 getPreferredSize() const;
    bool hasPreferredSize() const { return hasPreferredSize_; }
    Vec2 getActualSize() const { return actualSize_; }
    // preferred clamped to [min, max].
    Vec2 clampSize(Vec2 size) const;

    // Top-left corner in window coordinates (scrolling included).
    Vec2 getWorldPosition() const;
    float getWorldAngle() const;
    // Whether the window point lies in this widget's rectangle (rotation ignored).
    bool containsPoint(Vec2 windowPoint) const;

    // The window's frame information; a widget outside any window gets an
    // empty context.
    const WindowContext& getWindowContext() const;
    Window* getWindow() const { return window_; }

    // A token that expires when this widget is destroyed. Safe to copy and test
    // on any thread.
    std::weak_ptr<void> lifetime() const { return lifetime_; }

    // The mouse is over this widget or one of its descendants.
    bool isHovered() const;
    // This widget has the keyboard focus.
    bool hasFocus() const;

    // Once per frame, after the tick callbacks. The base calls update() of
    // every visible child.
    virtual void update();
    // Draws the widget. parentX/parentY: world position of the parent's
    // content (where a child at position (0, 0) sits). The base draws every
    // visible child.
    virtual void draw(Renderer* renderer, float parentX, float parentY);
    // The actual size changed.
    virtual void resized();
    // Whether the widget wants more frames although nothing else happens:
    // it moves, or it changed after its part of the frame was drawn. Asked
    // after each frame of the visible widgets; the application keeps drawing
    // frames while one says so, and sleeps otherwise (see Application).
    virtual bool animating() const { return false; }

    // Input. Return true when handled; unhandled mouse button and wheel events
    // go on to the parent. The widget that handles a mouse press receives all
    // mouse events until the release, and takes the keyboard focus if
    // acceptsFocus() is true.
    virtual bool onMouseMove(Vec2 position);
    virtual bool onMouseButton(const MouseButtonEvent& event);
    // dx/dy in wheel notches; positive dy scrolls up (content moves down).
    virtual bool onMouseWheel(Vec2 position, float dx, float dy);
    virtual bool onKey(const KeyEvent& event);
    virtual bool onTextInput(const std::string& utf8);
    virtual void onMouseEnter();
    virtual void onMouseLeave();
    virtual void onFocusChanged(bool focused);
    virtual bool acceptsFocus() const { return false; }

    // The deepest visible widget at the window point, or null.
    virtual Widget* hitTest(Vec2 windowPoint);

    // Lays out the children (sets their actual sizes and, for containers,
    // their positions), then recurses. Called by the window.
    void layout();

protected:
    // Sets the actual size of a child; used by layouts.
    static void assignSize(Widget* child, Vec2 size);
    static void assignPosition(Widget* child, Vec2 position) { child->position_ = position; }
    // Gives every visible child its size and position. Default: preferred size
    // clamped, position as set.
    virtual void layoutChildren();
    // Size of the content when no preferred size was set. Default (0, 0).
    virtual Vec2 contentSize() const;
    // Offset added to the world position of the children (scrolling).
    virtual Vec2 childOffset() const { return {}; }
    // Whether children outside this widget's rectangle are cut off (drawing
    // and hit testing).
    virtual bool clipsChildren() const { return false; }
    // Marks the window's layout as out of date.
    void invalidateLayout();
    // Draws the visible children (what the base draw does).
    void drawChildren(Renderer* renderer);

private:
    friend class Window;
    void attachToWindow(Window* window);

    Widget* parent_ = nullptr;
    Window* window_ = nullptr;
    std::vector<Widget*> children_;
    std::shared_ptr<void> lifetime_;

    Vec2 position_;
    Vec2 origin_;
    float rotation_ = 0.0f;
    bool visible_ = true;
    Vec2 minSize_;
    Vec2 maxSize_{kUnbounded, kUnbounded};
    Vec2 preferredSize_;
    bool hasPreferredSize_ = false;
    Vec2 actualSize_;
    Vec2 notifiedSize_;
    bool notifiedOnce_ = false;
};

}  // namespace vemo::ui
