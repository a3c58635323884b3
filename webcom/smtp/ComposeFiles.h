// The files of one message on its way out: the attachment list checked
// against the folders attachments may come from, and the clean-up once the
// server has accepted the message. Pages set the list themselves, so no
// entry may name a file elsewhere (config.ini, a mailbox, /etc/...), and
// none outside the account's compose folder is ever deleted.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::webcom::smtp {

// The entries of an Attachment list ("path;path;"), empty ones left out.
std::vector<std::string_view> AttachmentEntries(std::string_view list);

// Every entry as the file the composer reads, in order: a regular file
// inside `compose_folder` (links followed, the file they lead to must lie
// inside), or one inside `work_folder` as the entry names it (no link,
// no ".."; see IsPlainFileInside), when there is a work folder. Nothing
// when an entry is neither or the path holds a ";" (the composer's list
// separator).
std::optional<std::vector<std::string>> ResolveAttachments(std::string_view list, const std::string& compose_folder,
                                                           const std::optional<std::string>& work_folder);

// Deletes the regular files the list names inside `folder` (the uploads of
// this or an earlier page of the account), and then each folder such a file
// leaves empty, up to `folder` itself.
void RemoveListedUploads(std::string_view list, const std::string& folder);

// Removes the folder when it is empty; a folder that still holds anything
// (another page's work) stays.
void RemoveFolderIfEmpty(const std::string& folder);

}  // namespace quorvex::webcom::smtp
