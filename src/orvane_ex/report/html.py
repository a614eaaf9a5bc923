"""HTML of the report: one self-contained page. Every text that reaches it is
escaped here; figures come in as data URIs; a content security policy lets
the page load nothing from anywhere and run no script."""
from __future__ import annotations

import html
import math
from collections.abc import Iterable

# nothing from the network, no script, images only from the page itself
POLICY = "default-src 'none'; img-src data:; style-src 'unsafe-inline'"

CSS = """
:root { --ink: #1d232b; --muted: #5a6470; --rule: #d5dae0; --band: #f3f5f8; --accent: #1f5f99;
        --pass: #1b7a3a; --fail: #b3261e; }
* { box-sizing: border-box; }
html { font-size: 15px; }
body { margin: 0; color: var(--ink); background: #fff; line-height: 1.45;
       font-family: system-ui, -apple-system, "Segoe UI", Roboto, "Helvetica Neue", Arial, sans-serif; }
header { background: var(--band); border-bottom: 1px solid var(--rule); padding: 1.4rem 2rem 1rem; }
header h1 { margin: 0 0 .3rem; font-size: 1.6rem; font-weight: 650; }
header p { margin: 0; color: var(--muted); }
nav { padding: .6rem 2rem; border-bottom: 1px solid var(--rule); font-size: .93rem; }
nav a { color: var(--accent); text-decoration: none; margin-right: 1.1rem; white-space: nowrap; }
nav a:hover { text-decoration: underline; }
main { padding: 0 2rem 2rem; max-width: 1180px; }
section { margin-top: 1.8rem; }
h2 { font-size: 1.3rem; font-weight: 650; border-bottom: 2px solid var(--accent); padding-bottom: .2rem;
     margin: 0 0 .8rem; }
h3 { font-size: 1.08rem; font-weight: 650; margin: 1.3rem 0 .5rem; }
p { margin: .4rem 0 .7rem; max-width: 62rem; }
.note { color: var(--muted); font-size: .92rem; }
table { border-collapse: collapse; margin: .4rem 0 1rem; font-size: .92rem; }
th, td { border: 1px solid var(--rule); padding: .28rem .6rem; text-align: left; vertical-align: top; }
th { background: var(--band); font-weight: 600; }
td.num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
table.facts th { width: 13rem; }
.pre { white-space: pre-wrap; overflow-wrap: anywhere; }
figure { margin: .6rem 0 1.2rem; }
figure img { display: block; max-width: 100%; height: auto; }
figcaption { color: var(--muted); font-size: .9rem; margin-top: .25rem; max-width: 62rem; }
.badge { display: inline-block; padding: .05rem .55rem; border-radius: .8rem; font-weight: 650;
         font-size: .85rem; color: #fff; }
.pass { background: var(--pass); }
.fail { background: var(--fail); }
footer { color: var(--muted); font-size: .85rem; border-top: 1px solid var(--rule); padding: .8rem 2rem; }
@media print {
  @page { size: A4; margin: 14mm 12mm; }
  html { font-size: 10.5pt; }
  nav { display: none; }
  header { background: none; padding: 0 0 .6rem; }
  main, footer { padding-left: 0; padding-right: 0; max-width: none; }
  section { break-before: auto; }
  h2, h3 { break-after: avoid; }
  figure, table { break-inside: avoid; }
  .badge { border: 1px solid currentColor; color: var(--ink); background: none; }
  a { color: inherit; text-decoration: none; }
}
"""


def esc(text) -> str:
    """Any value as HTML text, escaped (quotes too, for attributes)."""
    return html.escape(str(text), quote=True)


def number(x: float, unit: str = "", digits: int = 4) -> str:
    """A number with its unit, escaped: '−38.2 dB'; non-finite values named."""
    if x is None:
        return "—"
    x = float(x)
    if math.isnan(x):
        text = "undefined"
    elif math.isinf(x):
        text = "−∞" if x < 0 else "∞"
    else:
        text = f"{x:.{digits}g}".replace("-", "−")
    return esc(f"{text} {unit}" if unit else text)


def ghz(f: float) -> str:
    return number(f / 1e9, "GHz", 5)


def table(header: Iterable[str], rows: Iterable[Iterable], *, numeric: Iterable[int] = (), cls: str = "") -> str:
    """A table; cells are escaped unless given as `Raw`."""
    numeric = set(numeric)
    head = "".join(f"<th>{esc(h)}</th>" for h in header)
    body = []
    for row in rows:
        cells = []
        for k, cell in enumerate(row):
            attr = ' class="num"' if k in numeric else ""
            cells.append(f"<td{attr}>{cell if isinstance(cell, Raw) else esc(cell)}</td>")
        body.append("<tr>" + "".join(cells) + "</tr>")
    klass = f' class="{esc(cls)}"' if cls else ""
    return f"<table{klass}><thead><tr>{head}</tr></thead><tbody>{''.join(body)}</tbody></table>"


class Raw(str):
    """HTML already made safe (by this module's functions)."""


def facts(pairs: Iterable[tuple[str, object]]) -> str:
    """A two-column table of names and values (values escaped unless `Raw`)."""
    rows = "".join(f"<tr><th>{esc(k)}</th><td>{v if isinstance(v, Raw) else esc(v)}</td></tr>" for k, v in pairs)
    return f'<table class="facts"><tbody>{rows}</tbody></table>'


def figure(uri: str, caption: str, alt: str) -> str:
    if not uri.startswith("data:image/"):
        raise ValueError("a report embeds its figures; only data: images are allowed")
    return (f'<figure><img src="{esc(uri)}" alt="{esc(alt)}"><figcaption>{esc(caption)}</figcaption></figure>')


def badge(passed: bool) -> str:
    return f'<span class="badge {"pass" if passed else "fail"}">{"PASS" if passed else "FAIL"}</span>'


def paragraph(text: str, cls: str = "") -> str:
    klass = f' class="{esc(cls)}"' if cls else ""
    return f"<p{klass}>{esc(text)}</p>"


def slug(text: str) -> str:
    return "".join(c if c.isalnum() else "-" for c in text.lower()).strip("-")


def page(title: str, subtitle: str, sections: list[tuple[str, str]], footer: str) -> str:
    """The whole document: `sections` as (heading, body HTML)."""
    nav = "".join(f'<a href="#{slug(h)}">{esc(h)}</a>' for h, _ in sections)
    body = "".join(f'<section id="{slug(h)}"><h2>{esc(h)}</h2>{content}</section>' for h, content in sections)
    return ("<!DOCTYPE html>\n"
            '<html lang="en"><head><meta charset="utf-8">'
            f'<meta http-equiv="Content-Security-Policy" content="{esc(POLICY)}">'
            '<meta name="viewport" content="width=device-width, initial-scale=1">'
            f"<title>{esc(title)}</title><style>{CSS}</style></head>\n"
            f"<body><header><h1>{esc(title)}</h1><p>{esc(subtitle)}</p></header>"
            f"<nav>{nav}</nav><main>{body}</main><footer>{esc(footer)}</footer></body></html>\n")
