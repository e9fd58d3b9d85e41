; zavo settings: one key and its value per line; ";" starts a comment.
; A switch is on only when its value is "yes".

; Convert the archives of every sub-folder too (the same as /r).
Recurse no
; Convert archives found inside archives before re-packing (as /n).
Nested no
; The new archive keeps the old one's file time (/k switches it off).
KeepTime yes
; Stop the whole run at the first archive that fails.
StopOnError no
; Let the new archive replace a file that already has its name.
KillExist no
; Unpack every new archive again and compare it with what was packed; a
; difference keeps the old archive ("verifying mistake").
Verify yes
; How many archives are converted at once; 0 is one per processor (-j N).
Jobs 0

; Recognise archives by their identifying bytes also under names of no
; archive kind (GAME.DAT holding arj data): off, since such files are
; more often a program's data than a misnamed archive.
AnyExtension no

; The archivers file; a bare name is looked for beside zavo.exe.
Archives archivers.ini

; Files to add to every archive (a relative mask counts from the folder
; zavo was started in), for example:
;AddFile C:\BBS\FILE_ID.DIZ
; Files to delete from every unpacked archive, relative to its top:
;DeleteFile *.bak
; A command run on every unpacked archive; @Folder names its folder, which
; the command quotes itself (it goes to "COMSPEC /C" as written):
;Scan scanner /all "@Folder"

; Description lists whose entries follow the renamed archives.
FileList descript.ion
FileList files.bbs
