#include "mem_image.h"

#include <cstring>

TMemImage::TMemImage() : bytes_(new uint8_t[kSize + kSpare]) { Fill(0xFF); }

void TMemImage::Fill(uint8_t v) { std::memset(bytes_.get(), v, kSize + kSpare); }
