# Build constants that name hosts outside the launcher.
#
# A build with tests (the default) never asks a server outside this machine:
# its public DNS walk goes to the test DNS peer on 127.0.0.1 (port base + 10,
# see tests/peers/README.md). A release build is configured with
# -DLAUNCHER_BUILD_TESTS=OFF and gets the public servers below.

# First loopback port of this build's test peers; each build has its own.
if(WIN32)
  set(default_port_base 23000)
elseif(LAUNCHER_SANITIZE)
  set(default_port_base 22000)
else()
  set(default_port_base 21000)
endif()
set(LAUNCHER_TEST_PORT_BASE ${default_port_base} CACHE STRING "First loopback port of this build's test peers")

set(LAUNCHER_RELEASE_DNS_SERVERS "8.8.8.8;8.8.4.4;114.114.114.114;114.114.115.115;223.5.5.5;223.6.6.6;180.76.76.76;119.29.29.29"
    CACHE STRING "Public DNS servers asked by the launcher's own resolver in a release build")
set(LAUNCHER_RELEASE_DNS_PORT 53 CACHE STRING "UDP port of the public DNS servers in a release build")

if(LAUNCHER_BUILD_TESTS)
  set(LAUNCHER_PUBLIC_DNS_SERVERS "127.0.0.1")
  math(EXPR LAUNCHER_DNS_PORT "${LAUNCHER_TEST_PORT_BASE} + 10")
else()
  set(LAUNCHER_PUBLIC_DNS_SERVERS "${LAUNCHER_RELEASE_DNS_SERVERS}")
  set(LAUNCHER_DNS_PORT ${LAUNCHER_RELEASE_DNS_PORT})
endif()
