# The WebView2 SDK: one pinned version of its NuGet package, restored by the
# .NET SDK into the build folder at configure time. Gives
# WEBVIEW2_INCLUDE_DIRS (the SDK header and a shim for what MinGW spells
# differently) and WEBVIEW2_LOADER_DLL (x64), which ships beside the program.
set(WEBVIEW2_VERSION 1.0.4314.35)
set(wv2_root ${CMAKE_BINARY_DIR}/webview2-sdk)
set(wv2_pkg ${wv2_root}/microsoft.web.webview2/${WEBVIEW2_VERSION})

if(NOT EXISTS ${wv2_pkg}/build/native/include/WebView2.h)
  find_program(DOTNET_PROGRAM dotnet)
  if(NOT DOTNET_PROGRAM)
    message(FATAL_ERROR
      "The Windows build needs the .NET SDK (the 'dotnet' command) to fetch the WebView2 SDK package "
      "Microsoft.Web.WebView2 ${WEBVIEW2_VERSION}. Install the .NET SDK and configure again.")
  endif()
  file(MAKE_DIRECTORY ${wv2_root})
  file(WRITE ${wv2_root}/restore.csproj
"<Project Sdk=\"Microsoft.NET.Sdk\">
  <PropertyGroup><TargetFramework>netstandard2.0</TargetFramework></PropertyGroup>
  <ItemGroup><PackageReference Include=\"Microsoft.Web.WebView2\" Version=\"${WEBVIEW2_VERSION}\" /></ItemGroup>
</Project>
")
  execute_process(
    COMMAND ${DOTNET_PROGRAM} restore restore.csproj --packages ${wv2_root} --nologo
    WORKING_DIRECTORY ${wv2_root}
    RESULT_VARIABLE restore_result
    OUTPUT_VARIABLE restore_output ERROR_VARIABLE restore_output)
  if(NOT restore_result EQUAL 0 OR NOT EXISTS ${wv2_pkg}/build/native/include/WebView2.h)
    message(FATAL_ERROR "Could not restore Microsoft.Web.WebView2 ${WEBVIEW2_VERSION}:\n${restore_output}")
  endif()
endif()

# WebView2.h includes "EventToken.h"; MinGW-w64 ships it as eventtoken.h.
set(wv2_shim ${wv2_root}/shim)
if(NOT EXISTS ${wv2_shim}/EventToken.h)
  file(WRITE ${wv2_shim}/EventToken.h "#pragma once\n#include <eventtoken.h>\n")
endif()

set(WEBVIEW2_INCLUDE_DIRS ${wv2_pkg}/build/native/include ${wv2_shim})
set(WEBVIEW2_LOADER_DLL ${wv2_pkg}/build/native/x64/WebView2Loader.dll)
