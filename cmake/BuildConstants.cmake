# Build constants that name hosts outside the launcher. Tests and the demo
# set loopback values; a release build keeps the defaults.
set(LAUNCHER_PUBLIC_DNS_SERVERS "8.8.8.8;8.8.4.4;114.114.114.114;114.114.115.115;223.5.5.5;223.6.6.6;180.76.76.76;119.29.29.29"
    CACHE STRING "Public DNS servers asked by the launcher's own resolver")
set(LAUNCHER_DNS_PORT 53 CACHE STRING "UDP port of the public DNS servers")
