#!/usr/bin/env bash
# Installs the Debian packages needed to build, test and benchmark lumipage, plus the
# independent readers the tests use as oracles. Safe to run any number of times.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  zlib1g-dev libjpeg62-turbo-dev libtiff-dev
  libfreetype-dev libfontconfig-dev fonts-liberation
  nettle-dev
  libtesseract-dev tesseract-ocr-eng tesseract-ocr-osd
  libzxing-dev zint zbar-tools libzbar-dev
  libsane-dev sane-utils
  libgtest-dev libgmock-dev libbenchmark-dev
  qpdf poppler-utils libtiff-tools libjpeg-turbo-progs imagemagick
  img2pdf bc jq ghostscript python3
  icc-profiles-free
  libpdfbox2-java libactivation-java libjaxb-api-java default-jre-headless
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! $sudo apt-get install -y --no-install-recommends "${missing[@]}"; then
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
