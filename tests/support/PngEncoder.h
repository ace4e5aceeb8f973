// A minimal PNG encoder for tests that need real image files: one colour,
// 8-bit RGBA, every row unfiltered, one IDAT chunk.
#pragma once
#include <cstdint>
#include <string>

// `rgba` is 0xRRGGBBAA.
std::string EncodeSolidPng(uint32_t width, uint32_t height, uint32_t rgba);
