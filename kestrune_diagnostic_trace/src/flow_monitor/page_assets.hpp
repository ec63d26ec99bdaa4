#ifndef KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__PAGE_ASSETS_HPP_
#define KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__PAGE_ASSETS_HPP_

#include <string>
#include <vector>

namespace kestrune {
namespace monitor {

/// One file of the page, compiled into the program from page/ at build time.
struct PageAsset {
  std::string path;
  std::string content_type;
  std::string body;
};

/// Every file the monitor serves besides its API; the page is "/".
const std::vector<PageAsset>& PageAssets();

}  // namespace monitor
}  // namespace kestrune

#endif  // KESTRUNE_DIAGNOSTIC_TRACE__FLOW_MONITOR__PAGE_ASSETS_HPP_
