// Everything a host needs: values, objects, the factory and the classes.
#pragma once

#include "voktools/asp2html.h"
#include "voktools/automation_error.h"
#include "voktools/class_table.h"
#include "voktools/collection.h"
#include "voktools/common.h"
#include "voktools/dispatch.h"
#include "voktools/events.h"
#include "voktools/factory.h"
#include "voktools/host.h"
#include "voktools/messages.h"
#include "voktools/mif_utilities.h"
#include "voktools/retrieve_file.h"
#include "voktools/rtf_util.h"
#include "voktools/temp_file_name.h"
#include "voktools/variant.h"
#include "voktools/version.h"
