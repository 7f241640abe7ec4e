#include "dialog/pictCTRL.h"

#include <gtest/gtest.h>

namespace {

TEST(PictureControlImages, NumbersNameImagesUntilForgotten)
{
    const UInt8 pixels[4] = {255, 9, 9, 9};
    CGImageRef a = TBCGImageCreateARGB(1, 1, pixels, 4);
    CGImageRef b = TBCGImageCreateARGB(1, 1, pixels, 4);
    const SInt32 na = PictureControlImageNumber(a);
    const SInt32 nb = PictureControlImageNumber(b);
    EXPECT_NE(na, 0);
    EXPECT_NE(na, nb);
    EXPECT_EQ(PictureControlImageNumber(a), na);
    EXPECT_EQ(PictureControlImage(na), a);
    ForgetPictureControlImage(a);
    EXPECT_EQ(PictureControlImage(na), nullptr);
    EXPECT_EQ(PictureControlImage(nb), b);
    EXPECT_EQ(PictureControlImage(-5), nullptr);
    EXPECT_EQ(PictureControlImage(0x7FFFFFFF), nullptr);
    ForgetPictureControlImage(b);
    CGImageRelease(a);
    CGImageRelease(b);
}

}  // namespace
