; zavo settings for Windows: one key and its value a line; ";" starts a comment.
; "@Define NAME value" defines a macro for the lines after it.

Recurse no
Nested no
KeepTime yes
StopOnError no
KillExist no

; The archivers file; a bare name is looked for beside zavo.exe.
Archives archivers.ini

; Description lists kept up to date in every folder.
FileList descript.ion
FileList files.bbs

; Files deleted from every unpacked archive, added to every archive, and
; commands run on every unpacked archive (@Folder is its folder).
;DeleteFile *.bak
;AddFile C:\ads\file_id.diz
;Scan scanner /all "@Folder"
