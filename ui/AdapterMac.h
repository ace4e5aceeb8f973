// The hardware address of a network adapter as text, for the machine
// checksum of news links.
#pragma once
#include <string>

// Adapter n (from 0) of GetAdaptersInfo, loaded from "iphlpapi.dll" at run
// time, written as "0A-1B-2C-3D-4E-5F"; empty when the library, the call or
// the adapter is missing.
std::string GetAdapterMacString(int n);

// The "crc" checksum of this machine: MD5 of the fixed texts around the MAC
// text of the first adapter with a real address.
std::string ThisMachineCrc();
