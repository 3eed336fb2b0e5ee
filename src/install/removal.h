// Taking the plug-in out again (ORVELLE_SETUP_REMOVE), with no window: what an uninstall
// command of a deployment tool runs.
#pragma once
#include <string>

#include "host_search.h"
#include "result.h"

// Deletes Lumivane.8bf, a leftover Lumivane.8bf.new and every set-aside copy in `folder`. A
// module the running host holds is set aside under the install's names; copies still held are
// deleted once the hosts that `host` finds have quit, by the host watch. Success when the name
// Lumivane.8bf is free at the end, nothing installed included (the folder is missing in a folder
// that can be read); a folder that cannot be looked at fails. The host's settings are left as
// they are, since other plug-ins may rely on them. The empty folder is the current one, as for
// the install.
Status remove_plugin(const std::wstring& folder, const HostSearch& host);
