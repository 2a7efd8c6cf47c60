#!/usr/bin/env python3
"""Writes the README as one HTML page, the guide "Help Manual" opens once installed:
    readme-html.py README.md OUTPUT.html
Pictures keep their relative addresses (docs/window.png is installed beside the page)."""
import html
import sys

import markdown

source, output = sys.argv[1], sys.argv[2]
with open(source, encoding="utf-8") as f:
    text = f.read()
title = next((line.lstrip("# ").strip() for line in text.splitlines() if line.startswith("# ")),
             "Drovanta EMLX to MBOX Converter")
body = markdown.markdown(text, extensions=["tables", "fenced_code"])
page = f"""<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{html.escape(title)}</title>
<style>
body {{ max-width: 48em; margin: 2em auto; padding: 0 1em; font-family: sans-serif;
       line-height: 1.5; }}
pre, code {{ background: #f4f4f4; }}
pre {{ padding: 0.5em; overflow-x: auto; }}
table {{ border-collapse: collapse; }}
td, th {{ border: 1px solid #ccc; padding: 0.2em 0.5em; vertical-align: top; }}
img {{ max-width: 100%; }}
</style>
</head>
<body>
{body}
</body>
</html>
"""
with open(output, "w", encoding="utf-8") as f:
    f.write(page)
