# The image library's files, listed so that a new one shows in review: a unit's source and header on one line.
set(IMAGE_SOURCES
  image/InSPIAbleData.cpp image/InSPIAbleData.h
  image/SPI.cpp image/SPI.h
  image/SPIBitmap.cpp image/SPIBitmap.h
  image/SPIGraphic.cpp image/SPIGraphic.h
  image/SPIs.cpp image/SPIs.h
  image/StretchBitmap.cpp image/StretchBitmap.h
  image/SusiePluginApi.h)
