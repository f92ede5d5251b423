// The factory of the cephalometric images: the class follows the depth and the hardware.
#include <memory>
#include <new>

#include "pixel/ceph/ceph.h"
#include "pixel/ceph/cephlens.h"
#include "platform/core/notify.h"

namespace {

// The 16-bit class of a hardware id, adopting the record's pixels or empty of its size.
std::unique_ptr<CusCeph> MakeSixteenBit(SImage* image, std::uint32_t hardwareId,
                                        std::uint16_t deviceCode, bool withPixels) {
    const std::uint32_t h = image->nHeight, w = image->nWidth;
    CusCeph* made = nullptr;
    if (hardwareId == 3)
        made = withPixels ? new (std::nothrow) CusCephVelmoLens(image, deviceCode)
                          : new (std::nothrow) CusCephVelmoLens(h, w, deviceCode);
    else if (hardwareId >= 4 && hardwareId <= 6)
        made = withPixels ? new (std::nothrow) CusCephVelmoLensV3(image, deviceCode)
                          : new (std::nothrow) CusCephVelmoLensV3(h, w, deviceCode);
    else
        made = withPixels ? new (std::nothrow) CusCeph(image) : new (std::nothrow) CusCeph(h, w);
    return std::unique_ptr<CusCeph>(made);
}

}  // namespace

CImg* CreateCephImage(SImage* image, std::uint32_t hardwareId, std::uint16_t deviceCode) {
    if (image == nullptr || image->nBitsPerSample == 8) return nullptr;
    const bool withPixels = image->pPixels != nullptr;
    CImg* result = nullptr;
    if (image->nBitsPerSample == 32) {
        std::unique_ptr<CunCeph> made(withPixels ? new (std::nothrow) CunCeph(image)
                                                 : new (std::nothrow)
                                                       CunCeph(image->nHeight, image->nWidth));
        // An image that could not take the pixels (or make its own) is no image.
        if (!made || !made->HasPixels()) return nullptr;
        result = made.release();
    } else {
        if (withPixels && hardwareId == 3 && image->nBitsPerSample > 12) {
            win::Notify("QV", "Hardware ID incorrect");  // caption: the application's name
            return nullptr;
        }
        // Records of 1 to 7 or 17 to 31 bits hold no 16-bit elements: the image refuses them.
        std::unique_ptr<CusCeph> made = MakeSixteenBit(image, hardwareId, deviceCode, withPixels);
        if (!made || !made->HasPixels()) return nullptr;
        result = made.release();
    }
    image->pPixels = nullptr;  // the image owns the block now
    return result;
}
