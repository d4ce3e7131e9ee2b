// Command line, window place, refresh counting and status texts.
#include "ui/control.h"

#include <cstdio>
#include <cstring>

#include "platform/win32.h"
#include "server/services.h"
#include "ui/language.h"
#include "ui/main_view.h"

std::vector<std::string> SplitCommandLine(const char *commandLine)
{
    std::vector<std::string> arguments;
    const char *p = commandLine != nullptr ? commandLine : "";
    for (;;) {
        while (*p == ' ' || *p == '\t')
            p++;
        if (*p == '\0')
            return arguments;
        std::string argument;
        bool quoted = false;
        for (; *p != '\0' && (quoted || (*p != ' ' && *p != '\t')); p++) {
            if (*p == '\\' && p[1] == '"') {
                argument += '"';
                p++;
            } else if (*p == '"') {
                quoted = !quoted;
            } else {
                argument += *p;
            }
        }
        arguments.push_back(argument);
    }
}

StartOptions ParseStartOptions(const std::vector<std::string> &arguments, char *dataDirectory, size_t size)
{
    StartOptions options;
    for (const std::string &argument : arguments) {
        if (!argument.empty() && argument[0] == '-') {
            if (argument.size() == 7) {
                std::string lower;
                for (char c : argument)
                    lower += (char)tolower((unsigned char)c);
                options.iconic = options.iconic || lower == "-iconic";
            }
            continue;
        }
        if (argument.empty() || argument.size() >= 896)
            return options;
        DWORD attributes = GetFileAttributesA(argument.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return options;
        bool slash = argument.back() == '\\';
        if ((size_t)snprintf(dataDirectory, size, "%s%s", argument.c_str(), slash ? "" : "\\") < size)
            options.dataDirectory = true;
        return options;
    }
    return options;
}

WindowPlace PlaceWindow(int32_t left, int32_t top, int32_t width, int32_t height, int screenWidth,
                        int screenHeight, int minWidth, int minHeight)
{
    WindowPlace place;
    place.x = (uint32_t)left + 5 < (uint32_t)screenWidth ? left : 0;
    place.y = (uint32_t)top + 5 < (uint32_t)screenHeight ? top : 0;
    place.width = width < minWidth ? minWidth : width;
    place.height = height < minHeight ? minHeight : height;
    return place;
}

int32_t RefreshTick(RefreshState &state)
{
    if (state.shownMounts != 0) {
        state.counter++;
    } else {
        if (state.ticks & 1)
            state.counter++;
        state.ticks++;
    }
    return state.counter;
}

void RefreshHandled(RefreshState &state)
{
    if (state.counter != 0)
        state.counter--;
}

std::string BottomBarText(int status, unsigned port)
{
    char text[128];
    if (status == SERVICES_RUNNING)
        snprintf(text, sizeof(text), " %s %u", Text(32, "READY").c_str(), port);
    else if (FindServiceStatusMessage(status) != nullptr)
        snprintf(text, sizeof(text), " %s", StartFailureText(status).c_str());
    else
        snprintf(text, sizeof(text), " %s", Text(35, "NFS_ERROR_2").c_str());
    return text;
}

std::string ServiceBarText(ServiceBarState state, unsigned port)
{
    char text[256];
    if (state == SERVICE_BAR_RESTARTING)
        snprintf(text, sizeof(text), (" " + Text(73, "SVC_RESTARTING")).c_str(), "KorvaneNfsd");
    else if (state == SERVICE_BAR_SERVING)
        snprintf(text, sizeof(text), (" " + Text(71, "SVC_SERVES")).c_str(), "KorvaneNfsd", port);
    else
        snprintf(text, sizeof(text), (" " + Text(72, "SVC_STOPPED")).c_str(), "KorvaneNfsd");
    return text;
}

std::string ServiceDataFolder(const char *commandLine)
{
    const char *option = strstr(commandLine, " -service ");
    if (option == nullptr)
        return std::string();
    std::string folder = option + 10;
    while (!folder.empty() && folder[0] == ' ')
        folder.erase(0, 1);
    if (!folder.empty() && folder[0] == '"') {
        size_t end = folder.rfind('"');
        folder = end > 0 ? folder.substr(1, end - 1) : std::string();
    }
    // The installer doubles a last backslash (it would quote the quote).
    while (folder.size() >= 2 && folder.back() == '\\' && folder[folder.size() - 2] == '\\')
        folder.pop_back();
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    return folder;
}

std::string TopBarText(int view, size_t count)
{
    char text[128];
    if (view == VIEW_MOUNTS)
        snprintf(text, sizeof(text), " %u %s", (unsigned)count, Text(15, "CLIENTS").c_str());
    else
        snprintf(text, sizeof(text), " %u %s", (unsigned)count, Text(22, "ENTRIES").c_str());
    return text;
}

std::string StartFailureText(int status)
{
    const ServiceStatusMessage *message = FindServiceStatusMessage(status);
    if (message == nullptr)
        return std::string();
    return WithFailedPort(Text(message->stringId, message->key), Text(56, "PORT_TAKEN"));
}
