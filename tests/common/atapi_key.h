#pragma once

// The key and value the program exists to write, as the tests spell them: every test holds the
// program to these literals of its own and never reads them from the product.
#define HALVENOR_TEST_ATAPI_PARAMETERS "System\\CurrentControlSet\\Services\\Atapi\\Parameters"
constexpr char kAtapiSubKey[] = HALVENOR_TEST_ATAPI_PARAMETERS;  // under HKEY_LOCAL_MACHINE
constexpr char kAtapiKey[] = "HKLM\\" HALVENOR_TEST_ATAPI_PARAMETERS;  // as the Win32 double names it
#undef HALVENOR_TEST_ATAPI_PARAMETERS
constexpr char kBigLbaValue[] = "EnableBigLba";
