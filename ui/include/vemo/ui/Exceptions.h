// The toolkit's two exception types. Both carry a signed code; the codes are
// numbered once here and never reused, so logs stay comparable over versions.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vemo::ui {

// Failures of the render system: SDL start-up, devices, windows, renderers,
// frame capture. what() is the message, code() one of the values below.
class RenderException : public std::runtime_error {
public:
    enum Code : std::int32_t {
        InitFailed = -1,         // SDL or SDL_ttf could not be started
        DeviceOutOfRange = -2,   // selectDevice with an index past the device list
        WindowFailed = -3,       // the window could not be created
        RendererFailed = -4,     // no render driver could draw into the window
        NoApplication = -5,      // an Application operation with no Application alive
        CaptureFailed = -6,      // reading back or saving a frame failed
        SecondApplication = -7,  // an Application exists already
        InvalidContext = -8,     // a moved-from RenderContext was used
        NoDisplay = -9,          // no display to open windows on (and no video driver without one asked for)
    };

    RenderException(const std::string& message, std::int32_t code) : std::runtime_error(message), code_(code) {}

    std::int32_t code() const noexcept { return code_; }
    // The message, as what() gives it.
    std::string getMessage() const { return what(); }

private:
    std::int32_t code_;
};

// Failures to build a resource (font, image, SVG) from bytes.
class ResourceException : public std::runtime_error {
public:
    enum Code : std::int32_t {
        EmptyData = -1,     // null pointer or zero length
        DecodeFailed = -2,  // the bytes are not an image / font the decoders accept
        InvalidSize = -3,   // a requested raster size is not positive
        TooLarge = -4,      // more than 2 GiB of data, or a raster larger than 16384 pixels a side
    };

    ResourceException(const std::string& message, std::int32_t code) : std::runtime_error(message), code_(code) {}

    std::int32_t code() const noexcept { return code_; }

private:
    std::int32_t code_;
};

}  // namespace vemo::ui
