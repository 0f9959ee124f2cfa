// The texture cache: one rasterisation per key, silence for missing assets,
// a logged failure that is not remembered.
#include "AppTextures.h"

#include "app_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using vemo::AppTextures;
using vemo::AssetPackage;
using vemo::test::CapturedStreams;

// A 2 x 1 PNG: one opaque red pixel, one transparent one.
const unsigned char kPng[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44,
                              0x52, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0xF4,
                              0x22, 0x7F, 0x8A, 0x00, 0x00, 0x00, 0x0F, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8,
                              0xCF, 0xC0, 0x00, 0x44, 0x0C, 0x0C, 0x00, 0x0C, 0xFC, 0x01, 0xFF, 0x5C, 0xFD, 0x14, 0x95,
                              0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class AppTexturesTest : public ::testing::Test {
protected:
    void SetUp() override {
        vemo::test::loadPackage(
            package_, {
                          {"icons/tag.svg", vemo::test::readText(std::filesystem::path(VEMO_TEST_ICONS) / "tag.svg")},
                          // Empty: a document SDL_image cannot parse would do as
                          // well, but its failure path leaks (SDL_image 2.6.3).
                          {"icons/broken.svg", ""},
                          {"images/pixel.png", std::string(std::begin(kPng), std::end(kPng))},
                          {"images/broken.png", "not an image"},
                      });
    }

    AssetPackage package_;
    AppTextures textures_{package_};
};

TEST_F(AppTexturesTest, SameKeyGivesTheSameTextureRasterisedOnceAndAnotherSizeANewOne) {
    CapturedStreams streams;
    const vemo::ui::Texture* first = textures_.svg("icons/tag.svg", 256, 256);
    const vemo::ui::Texture* again = textures_.svg("icons/tag.svg", 256, 256);
    const vemo::ui::Texture* small = textures_.svg("icons/tag.svg", 128, 128);

    ASSERT_NE(first, nullptr);
    EXPECT_EQ(again, first);
    ASSERT_NE(small, nullptr);
    EXPECT_NE(small, first);
    EXPECT_EQ(first->getWidth(), 256);
    EXPECT_EQ(small->getWidth(), 128);
    EXPECT_EQ(count(streams.out(), "Loaded SVG asset 'icons/tag.svg' (256x256)"), 1u);
    EXPECT_EQ(count(streams.out(), "Loaded SVG asset 'icons/tag.svg' (128x128)"), 1u);
    EXPECT_EQ(count(streams.out(), "[TRACE]"), 2u);
    EXPECT_EQ(streams.err(), "");
}

TEST_F(AppTexturesTest, UnknownAssetGivesNullAndNoLogLine) {
    CapturedStreams streams;
    EXPECT_EQ(textures_.svg("icons/tag.sv", 256, 256), nullptr);
    EXPECT_EQ(textures_.texture("images/missing.png"), nullptr);
    EXPECT_EQ(streams.out(), "");
    EXPECT_EQ(streams.err(), "");
}

TEST_F(AppTexturesTest, UndecodableAssetIsLoggedWithTheCodeAndTriedAgainNextTime) {
    CapturedStreams streams;
    EXPECT_EQ(textures_.svg("icons/broken.svg", 64, 64), nullptr);
    EXPECT_EQ(textures_.svg("icons/broken.svg", 64, 64), nullptr);
    EXPECT_EQ(textures_.texture("images/broken.png"), nullptr);

    EXPECT_EQ(count(streams.err(), "[ERROR]"), 3u);
    EXPECT_EQ(count(streams.err(), "Failed to load svg asset 'icons/broken.svg': RenderException code -1"), 2u)
        << streams.err();
    EXPECT_EQ(count(streams.err(), "Failed to load texture asset 'images/broken.png': RenderException code -2"), 1u);
    EXPECT_EQ(streams.out(), "");
}

TEST_F(AppTexturesTest, ImagesAreDecodedAsStoredAndCachedByName) {
    CapturedStreams streams;
    const vemo::ui::Texture* pixel = textures_.texture("images/pixel.png");
    ASSERT_NE(pixel, nullptr);
    EXPECT_EQ(textures_.texture("images/pixel.png"), pixel);
    EXPECT_EQ(pixel->getWidth(), 2);
    EXPECT_EQ(pixel->getHeight(), 1);
    EXPECT_EQ(pixel->pixel(0, 0), vemo::ui::Color::rgba(255, 0, 0));
    EXPECT_EQ(count(streams.out(), "Loaded texture asset 'images/pixel.png'"), 1u);
}

TEST(AppTexturesKey, OrdersByNameThenWidthThenHeight) {
    using Key = AppTextures::SvgKey;
    EXPECT_LT((Key{"icons/a.svg", 512, 512}), (Key{"icons/b.svg", 16, 16}));
    EXPECT_LT((Key{"icons/a.svg", 16, 512}), (Key{"icons/a.svg", 32, 16}));
    EXPECT_LT((Key{"icons/a.svg", 16, 16}), (Key{"icons/a.svg", 16, 32}));
    // Byte-wise: a byte above 0x7F sorts after ASCII.
    EXPECT_LT((Key{"icons/z.svg", 1, 1}), (Key{"icons/\xC3\xA4.svg", 1, 1}));
}

}  // namespace
