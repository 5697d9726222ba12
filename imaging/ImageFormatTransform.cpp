#include "imaging/ImageFormatTransform.h"

namespace lumipage {

void TImageFormatTransform::Apply(TDibGraphic& image) {
  if (image.ImageKind() == TargetKind) return;
  TImageTransform::Apply(image);
}

void TImageFormatTransform::ApplyOnDest(const TDibGraphic&, TDibGraphic&) {
  throw Exception("TImageFormatTransform: conversion not available yet");
}

void TImageFormatTransform::Quantize(const TDibGraphic&, unsigned, bool) {}
void TImageFormatTransform::Dither(const TDibGraphic&, TDibGraphic&) {}
void TImageFormatTransform::DitherReference(const TDibGraphic&, TDibGraphic&) {}
void TImageFormatTransform::Copy(const TDibGraphic&, TDibGraphic&) {}

}  // namespace lumipage
