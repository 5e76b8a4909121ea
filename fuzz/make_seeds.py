#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into tests/data/fuzz-seeds/.

The mail targets start from the golden mails in tests/data/mail/ directly;
the seeds here are drawn from them (their HTML parts, their text in the
charsets they name) or written in the shapes the program's files have.
Run it again after adding golden mails: ./fuzz/make_seeds.py
"""
import email
import email.policy
import hashlib
import os
import struct
import sys
from pathlib import Path

root = Path(__file__).resolve().parent.parent
data = root / "tests" / "data"
mails = sorted((data / "mail").glob("*.eml"))
out = data / "fuzz-seeds"


def put(target, name, content):
    folder = out / target
    folder.mkdir(parents=True, exist_ok=True)
    if isinstance(content, str):
        content = content.encode("utf-8")
    (folder / name).write_bytes(content)


def parts():
    for path in mails:
        msg = email.message_from_bytes(path.read_bytes(), policy=email.policy.compat32)
        for part in msg.walk():
            if part.is_multipart():
                continue
            try:
                payload = part.get_payload(decode=True)
            except Exception:
                continue
            if payload:
                yield path.stem, part, payload


# --- html, charsets ----------------------------------------------------------
for n, (stem, part, payload) in enumerate(parts()):
    ctype = part.get_content_type()
    label = (part.get_content_charset() or "").encode("ascii", "replace")
    if ctype == "text/html":
        put("html", f"{stem}-{n}.html", payload)
    if part.get_content_maintype() == "text":
        put("charsets", f"{stem}-{n}.txt", label + b"\n" + payload)

put("html", "structure.html", """<!DOCTYPE html><html><head><meta charset="shift_jis"><title>t</title>
<style>p{}</style><script>var a = "<p>";</script></head><body>
<h1>見出し</h1><p>本文&amp;&lt;&gt;&quot;&nbsp;&#x1F600;&#12354;&#xD800;&copy;&zwj;</p>
<ul><li>一<li>二<ol><li><p>三</p></li></ol></ul><table><tr><td>a</td><td>b</td></tr></table>
<a href="https://example.jp/">https://example.jp/</a> <a href="mailto:a@example.jp?subject=x">書く</a>
<a href="#top"><img alt="戻る" src="x.png"></a><pre>  整形済み
	タブ</pre><br><br><div></div><!-- comment --><?xml x?></body></html>""".encode("cp932", "replace"))

jis = "日本語の①②と～".encode("iso2022_jp_2", "replace")
put("charsets", "jis-escapes.txt", b"iso-2022-jp\n" + jis + b"\x1b(I\x31\x32\x1b(B\x0e\x31\x0f\x1b$(D\x30\x21\x1b(B")
put("charsets", "cp932-nec-ibm.txt", b"shift_jis\n" + "①②ⅰ～∥－￢髙﨑".encode("cp932"))
put("charsets", "euc-jp.txt", b"euc-jp\n" + "日本語のテキスト".encode("euc_jp"))
put("charsets", "utf-7.txt", b"utf-7\n" + "日本".encode("utf-7"))
put("charsets", "utf-16.txt", b"utf-16\n" + "日本".encode("utf-16"))
put("charsets", "unlabelled.txt", b"\n" + "ラベルなし".encode("cp932"))
put("charsets", "gb.txt", b"gb2312\n" + "中文".encode("gb2312"))
put("charsets", "latin1.txt", b"iso-8859-1\n" + b"caf\xe9 \x93quoted\x94")

# --- text files ---------------------------------------------------------------
kao = (root / "home" / "Kao1.txt").read_bytes()
put("text_files", "Kao1.txt", kao)
text = "顔文字 (^_^) ①～\r\n二行目\r\n"
put("text_files", "utf8.txt", text.encode("utf-8"))
put("text_files", "utf8-bom.txt", b"\xef\xbb\xbf" + text.encode("utf-8"))
put("text_files", "utf16le.txt", b"\xff\xfe" + text.encode("utf-16-le"))
put("text_files", "utf16be.txt", b"\xfe\xff" + text.encode("utf-16-be"))
put("text_files", "cp932.txt", text.encode("cp932"))

# --- record files ---------------------------------------------------------------
def field(s, width):
    b = s.encode("cp932", "replace")[:width]
    return b + b" " * (width - len(b))


def mail_record(subject, date, sender, body, flag=1):
    r = field(subject, 100) + field(date, 90) + field(sender, 90) + field(body, 32000) + b"\r\n"
    return r + struct.pack("<h", flag)


def address_record(name, address, flag=1):
    return field(name, 90) + b"\r\n" + struct.pack("<h", flag) + field(address, 90)


put("records", "received-two.data",
    mail_record("件名①～", "Thu, 1 Jan 1970 09:00:00 +0900", "山田 <yamada@example.jp>",
                "本文の一行目\r\n二行目　全角空白\r\n") +
    mail_record("消した", "", "", "", flag=0)[:32284])
put("records", "received-tail.data", mail_record("x", "y", "z", "w")[:100])
put("records", "book.data",
    address_record("日本太郎", "日本太郎<taro@example.jp>") + address_record("Bob", "bob@example.com") +
    address_record("消した", "gone@example.jp", flag=0) + address_record("髙橋①", "takahashi@example.jp"))

# --- settings files -------------------------------------------------------------
put("profile", "iniIdPass.ini", "[EXEINI]\r\nNAME=user\r\nNAME2=pässwörd①\r\nNAME3=1\r\n".encode("cp932", "replace"))
put("profile", "ini.ini", b"[EXEINI]\r\nNUMBER=1\r\nNUMBER2=0\r\n")
put("profile", "sections.ini", "; comment\r\n[Other]\r\nNAME=x\r\n[ exeini ]\r\n name = \"quoted\" \r\n"
    "NUMBER=12abc\r\n\r\n[EXEINI]\r\nNAME2='single'\r\nNUMBER2=-3\r".encode("cp932"))
put("server_settings", "pelkit.ini", b"SMTP=smtp.example.jp\r\nPOP3=pop.example.jp\r\n"
    b"MAIL=user@example.jp\r\nAPOP=1\r\nALLOWPLAIN_POP3=pop.example.jp\r\nALLOWPLAIN_SMTP= \r\n")
put("server_settings", "old.ini", "SMTP=メール.example.jp\nPOP3=pop\rMAIL=a%1b@example.jp\nAPOP=2.5e1\n".encode("cp932"))

# --- the mail check's own files ------------------------------------------------
def pct(s):
    from urllib.parse import quote
    return quote(s, safe="/")


def commit_sum(entry_lines, lengths):
    return hashlib.sha256((entry_lines + lengths).encode("utf-8")).hexdigest()[:16]


entries = "entry pop.example.jp:110:user 0001 " + "a" * 32 + "\nentry %E2%98%85 - " + "b" * 32 + "\n"
journal = ("begin\nappend @DATA@ 100 " + pct("★MAilData/plkdata2.data") + "\n"
           "new " + pct("添付フォルダ/a.pdf") + "\n" + entries +
           "commit 300 2 " + commit_sum(entries, "300") + "\n"
           "new " + pct("添付フォルダ/b.txt") + "\nentry x 0002 " + "c" * 32 + "\ncommit 400 1 0000000000000000\n")
put("receive_journal", "committed-and-torn.txt", journal)
put("receive_journal", "outside.txt", "begin\nappend @OUTSIDE@ 0 ../outside/victim.data\nnew ../outside/victim.data\n"
    "new %2E%2E/outside/victim.data\nnew /etc/passwd\nnew a/../../outside/victim.data\n")
put("receive_journal", "summed.txt", "begin\nappend @DATA@ 100 " + pct("★MAilData/plkdata2.data") +
    "\nnew " + pct("添付フォルダ/a.pdf") + "\nentry acct 1 " + "d" * 32 + "\ncommit 500 1 @SUM@\n"
    "new " + pct("添付フォルダ/b.txt") + "\nnew " + pct("添付フォルダ/gone.txt") + "\n")
put("receive_journal", "two-files.txt", "begin\nappend @DATA@ 10 " + pct("★MAilData/plkdata2.data") +
    "\nappend @ORIGINALS@ 20 " + pct("★MAilData/received-originals.data") + "\ncommit 30,40 0 " +
    commit_sum("", "30,40") + "\n")


def plan(punch, cut, ident="@ARCHIVE@"):
    lines = "delete\n" + "".join(f"punch {ident} {o} {l}\n" for o, l in punch)
    if cut is not None:
        lines += f"cut {ident} {cut}\n"
    return lines + f"commit {len(punch)} " + hashlib.sha256(lines.encode()).hexdigest()[:16] + "\n"


put("delete_journal", "punch-and-cut.txt", plan([(0, 10), (100, 50)], 900))
put("delete_journal", "cut-only.txt", plan([], 0))
put("delete_journal", "undecided.txt", "delete\npunch @ARCHIVE@ 0 10\n")
put("delete_journal", "summed.txt", "delete\npunch @ARCHIVE@ 5 20\npunch @ARCHIVE@ 990 100\ncut @ARCHIVE@ 500\n"
    "commit 2 @SUM@\n")

digest = "0123456789abcdef" * 2
put("uid_list", "received-uids.txt",
    f"# tomoshibi: mails stored whose deletion is not confirmed (account TAB UIDL TAB digest)\n"
    f"pop.example.jp:110:user\t0001\t{digest}\npop.example.jp:110:user\t-\t{digest}\n"
    f"other%20account\tXYZ\t{digest}\npop.example.jp:110:user\told-only\n")

sha = hashlib.sha256(b"x").hexdigest()
put("originals_index", "received-originals.txt",
    f"1 0 100 0123456789abcdef 1700000000 0001 {sha}\n2 100 50 fedcba9876543210 1700000001 - lost\n"
    f"0 150 20 0011223344556677 1700000002 a%20b\n3 170 30 8899aabbccddeeff 1700000003 uid-6\n4 200 1")

# --- what comes from other programs ---------------------------------------------
put("vcard", "phones.vcf",
    "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:山田 花子\r\nN:山田;花子;;;\r\nEMAIL;TYPE=INTERNET:hanako@example.jp\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E6=97=A5=E6=9C=AC;=E5=A4=AA=E9=83=8E;;;\r\n"
    "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E6=97=A5=E6=9C=AC=E5=A4=AA=E9=83=\r\n=8E\r\n"
    "EMAIL;HOME:taro@example.jp\r\nEMAIL;PREF=1:one@example.jp\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\nFN:株式会社 日本商事\\, 営業部\\;東京\n  支店\nN:O\\;Brien;Pat\nitem1.EMAIL;type=pref:a@b\n"
    "X-TOMOSHIBI-ADDRESS:日本<a@b>\nPHOTO;ENCODING=b:QUJD\nAGENT:\nBEGIN:VCARD\nFN:Inner\nEND:VCARD\nEND:VCARD\n")
put("vcard", "sjis.vcf", b"BEGIN:VCARD\r\nN;CHARSET=SHIFT_JIS;QUOTED-PRINTABLE:=97=E9=96=D8;=88=EA\r\nFN:" +
    "①～㈱".encode("cp932") + b"\r\nEMAIL;INTERNET:ichiro@example.ne.jp\r\nEND:VCARD\r\n")
put("vcard", "utf16.vcf", b"\xff\xfe" + "BEGIN:VCARD\r\nFN:佐藤\r\nEMAIL:sato@example.jp\r\nEND:VCARD\r\n".encode("utf-16-le"))

put("mailto", "fields.txt", "mailto:someone@example.jp?subject=%E3%81%93%E3%82%93&body=1%2B1%3D2%26%0D%0A2+x%"
    "&cc=d@example.jp,e@example.jp&bcc=secret@example.jp&to=c@example.jp")
put("mailto", "header-injection.txt", "MAILTO:a@example.jp%0D%0ABcc:evil@example.com?SUBJECT=hi%0D%0ABcc:%20x%00&"
    "body=line%0Done%0D%0Atwo%09tab%07bell")
put("mailto", "cp932.txt", "mailto:a@example.jp?subject=" + "".join(f"%{b:02X}" for b in "件名①".encode("cp932")))

link = "mailto:a@example.jp?subject=%E4%BB%B6".encode()
put("instance_request", "show.bin", b"TOMOSHIBI/1 show 0\n")
put("instance_request", "mailto.bin", b"TOMOSHIBI/1 mailto %d\n" % len(link) + link)
put("instance_request", "short.bin", b"TOMOSHIBI/1 mailto 99\n" b"mailto:")
print("seeds written to", out)
