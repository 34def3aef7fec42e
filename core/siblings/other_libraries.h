// How the core reaches the pre-install, system and version libraries.
#pragma once

#include <agsuite/agpreinst.h>
#include <agsuite/agsystem.h>
#include <agsuite/agvers.h>

class IPreInstallLibrary {
 public:
  virtual ~IPreInstallLibrary() = default;
  virtual uint8_t AGPreInstInstall(const char* pszUrl1, const char* pszUrl2, uint32_t buildKind) = 0;
  virtual uint8_t AGPreInstIsAvInstalled() = 0;
  virtual uint8_t AGPreInstUninstall() = 0;
  virtual uint8_t AGPreInstGetAvInstallationPath(char16_t* buffer, uint32_t sizeUnits) = 0;
  virtual uint8_t LaunchBuildDownloader(const char* pszUrl1, const char* pszUrl2) = 0;
  virtual uint8_t PreInstallCleanUpCheck() = 0;
};

class ISystemLibrary {
 public:
  virtual ~ISystemLibrary() = default;
  virtual void SystemCleanUpCall(uint32_t* pdwStatus) = 0;
};

class IVersionLibrary {
 public:
  virtual ~IVersionLibrary() = default;
  virtual uint8_t GetProductVersion(const char16_t* folder, uint8_t parts[4]) = 0;
};
