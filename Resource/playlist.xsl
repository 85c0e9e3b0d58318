<?xml version="1.0" encoding="utf-8"?>
<!-- Music view of a Treelan export: the files with a playing time, numbered, with the total time. -->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html" encoding="utf-8" indent="yes" doctype-system="about:legacy-compat"/>

  <xsl:template match="/folders">
    <xsl:variable name="tracks" select="//file[@length != '']"/>
    <html>
      <head>
        <meta http-equiv="Content-Type" content="text/html; charset=utf-8"/>
        <title>Music in <xsl:value-of select="@path"/></title>
        <style type="text/css">
          body { margin: 12px 16px; font-family: "DejaVu Sans", Verdana, Arial, sans-serif;
                 font-size: 13px; color: #1a1a1a; background: #fbfcfd; }
          h1 { font-size: 18px; margin: 0 0 12px 0; color: #1f3a5f; }
          table { border-collapse: collapse; }
          th, td { border: 1px solid #c8d0d8; padding: 2px 8px; }
          th { background: #e8edf2; text-align: left; }
          td.num { text-align: right; white-space: nowrap; }
          td.folder { color: #555; }
          tr:nth-child(even) td { background: #f1f4f7; }
          tfoot td { background: #e8edf2; font-weight: bold; }
        </style>
      </head>
      <body>
        <h1>Music in <xsl:value-of select="@path"/></h1>
        <xsl:choose>
          <xsl:when test="$tracks">
            <table>
              <thead>
                <tr><th>#</th><th>Title</th><th>Folder</th><th>Length</th><th>Bit rate</th><th>Size</th></tr>
              </thead>
              <tbody>
                <xsl:apply-templates select="$tracks"/>
              </tbody>
              <tfoot>
                <tr>
                  <td colspan="3"><xsl:value-of select="count($tracks)"/> tracks</td>
                  <td class="num">
                    <xsl:call-template name="clock">
                      <xsl:with-param name="seconds">
                        <xsl:call-template name="total">
                          <xsl:with-param name="files" select="$tracks"/>
                        </xsl:call-template>
                      </xsl:with-param>
                    </xsl:call-template>
                  </td>
                  <td colspan="2"></td>
                </tr>
              </tfoot>
            </table>
          </xsl:when>
          <xsl:otherwise>
            <p>No file with a playing time. Export with the MP3 information to fill this list.</p>
          </xsl:otherwise>
        </xsl:choose>
      </body>
    </html>
  </xsl:template>

  <xsl:template match="file">
    <tr>
      <td class="num"><xsl:value-of select="position()"/></td>
      <td><xsl:value-of select="@title"/></td>
      <td class="folder">
        <xsl:for-each select="ancestor::folder">
          <xsl:if test="position() > 1"> / </xsl:if>
          <xsl:value-of select="@title"/>
        </xsl:for-each>
      </td>
      <td class="num"><xsl:value-of select="@length"/></td>
      <td class="num"><xsl:value-of select="@bitrate"/></td>
      <td class="num"><xsl:value-of select="@size"/></td>
    </tr>
  </xsl:template>

  <!-- Sum of the lengths ("hh:mm:ss") in seconds; halves the list each step, so deep recursion is
       no concern even for long lists. -->
  <xsl:template name="total">
    <xsl:param name="files"/>
    <xsl:variable name="n" select="count($files)"/>
    <xsl:choose>
      <xsl:when test="$n = 0">0</xsl:when>
      <xsl:when test="$n = 1">
        <xsl:variable name="t" select="string($files/@length)"/>
        <xsl:variable name="h" select="number(substring-before($t, ':'))"/>
        <xsl:variable name="m" select="number(substring-before(substring-after($t, ':'), ':'))"/>
        <xsl:variable name="s" select="number(substring-after(substring-after($t, ':'), ':'))"/>
        <xsl:choose>
          <xsl:when test="$h = $h and $m = $m and $s = $s">
            <xsl:value-of select="$h * 3600 + $m * 60 + $s"/>
          </xsl:when>
          <xsl:otherwise>0</xsl:otherwise>
        </xsl:choose>
      </xsl:when>
      <xsl:otherwise>
        <xsl:variable name="half" select="floor($n div 2)"/>
        <xsl:variable name="first">
          <xsl:call-template name="total">
            <xsl:with-param name="files" select="$files[position() &lt;= $half]"/>
          </xsl:call-template>
        </xsl:variable>
        <xsl:variable name="rest">
          <xsl:call-template name="total">
            <xsl:with-param name="files" select="$files[position() > $half]"/>
          </xsl:call-template>
        </xsl:variable>
        <xsl:value-of select="$first + $rest"/>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template name="clock">
    <xsl:param name="seconds"/>
    <xsl:variable name="h" select="floor($seconds div 3600)"/>
    <xsl:variable name="m" select="floor(($seconds mod 3600) div 60)"/>
    <xsl:variable name="s" select="$seconds mod 60"/>
    <xsl:value-of select="concat(format-number($h, '00'), ':', format-number($m, '00'), ':', format-number($s, '00'))"/>
  </xsl:template>
</xsl:stylesheet>
